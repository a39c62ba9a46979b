float pi = 3.14159;
string version_text = "v1.0\n";
float skill;
float counter = 5;
vector spawn_origin = '0 0 -1';

void() W_Precache =
{
	precache_sound ("weapons/r_exp3.wav");
};

float(float a, float b) max2 =
{
	if (a > b)
	{
		return a;
	}
	else
	{
		return b;
	}
};

void() loop_test =
{
	local float i;
	local float i;
	i = 0;
	while (i < 10)
	{
		i = i + 1;
	}
	do
	{
		i = i - 1;
	}
	while (i > 0);
};
