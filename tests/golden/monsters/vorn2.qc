
float () helper_b =
{
	return (random ());
};

void (float par0) helper_a =
{
	mystery (SPEED);
};
