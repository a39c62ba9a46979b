float () random;
float SPEED    = 300;
vector spot /* = '1 2 3' */;

float (float dist) ai_chase =
{
	local vector dir;

	dir = self.velocity;
	while (((dist > 0) && (self.health > 0)))
	{
		if ((dir_x > SPEED))
		{
			dist = (dist - vlen (dir));
		}
		else
		{
			dist = (dist - 1);
		}
	}
	return ((dist * 2));
};
