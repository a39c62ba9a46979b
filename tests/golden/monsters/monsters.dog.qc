void () dog_run2;

void () dog_run1 = [ 1, dog_run2 ]
{
	ai_chase (10);
};

void () dog_run2 =
{

	do
	{
		state [ 2, dog_run1 ];
		self.health = (self.health - 1);

	} while ((self.health > 50));
};
