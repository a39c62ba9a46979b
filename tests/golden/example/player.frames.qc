void () player_stand;

void () player_run = [ 1, player_stand ]
{

	self.nextthink = (time + 0.1);
};

void () player_stand =
{
	local float r;

	r = random ();
	if ((r < 0.5))
	{
		sound (self, 1, "misc/null.wav", 1, 0);
	}
};
