
void() SUB_Null =
{
	return;
};
