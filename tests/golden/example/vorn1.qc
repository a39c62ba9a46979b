
entity () function11 =
{
	return (world);
};
