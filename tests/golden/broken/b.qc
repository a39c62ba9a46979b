
void () second =
{
}
