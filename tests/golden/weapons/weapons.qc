float WEAPON_ROCKET    = 8;
void () W_FireRocket;

void () W_Precache =
{
	precache_sound ("weapons/r_exp3.wav");
	precache_model ("progs/missile.mdl");
};

void () W_FireRocket =
{
	local entity missile;

	missile = spawn ();
	missile.owner = self;
	setmodel (missile, "progs/missile.mdl");
	dprint (ftos ((WEAPON_ROCKET + 1)));
};
