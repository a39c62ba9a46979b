float counter /* = 3 */;
float (float x, float y) helper_a;

void () main =
{
	local float best;

	counter = helper_a (vlen (spot), ai_chase (SPEED));
	do
	{
		counter = (counter - 1);
		if ((counter == 3))
		{
			dog_run1 ();
			dog_run2 ();
		}

	} while ((counter > 0));
};
