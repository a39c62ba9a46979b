
float (float x, float y) helper_a =
{

	if ((!x || y))
	{
		return (x);
	}
	return ((y + 1));
};
