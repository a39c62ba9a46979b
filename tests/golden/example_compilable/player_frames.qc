void() player_stand;

void() player_run = [1, player_stand]
{
	local float local1;
	local entity local2;
	local1 = time + 0.1;
	local2 = self;
	local2.nextthink_1 = local1;
};

void() player_stand =
{
	local float r;
	r = random ();
	if (r < 0.5)
	{
		local float r;
		sound (self, 1, "misc/null.wav", 1, 0);
	}
};
