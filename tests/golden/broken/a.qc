float x;

void () first =
{
	x = 1;
};
