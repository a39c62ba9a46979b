float deathmatch;

void () main =
{
	W_Precache ();
	W_FireRocket ();
};
