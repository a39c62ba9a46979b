
entity() func11 =
{
	return world;
};
