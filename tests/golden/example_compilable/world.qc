float deathmatch;
string message_text = "hello \"world\"";

void() main =
{
	W_Precache ();
	deathmatch = max2 (2, deathmatch);
};
