// Code of the shapes the compilable engine reads, compiled by tools/fuzz.sh with each compiler
// into small seed programs: loops, branches, short-circuit conditions, calls inside
// expressions, vectors, fields, frame functions and strings.

void end_sys_globals;
.float health;
.float frame;
.vector origin;
.void() think;
.float nextthink;
.entity enemy;
.string netname;
entity self;
entity world;
float time;
void end_sys_fields;

float TRUE = 1;
float FALSE = 0;
float total;
vector dir;
string message;

void(vector ang) makevectors = #1;
float() random = #7;
void(string s) dprint = #25;
float(vector v) vlen = #12;
entity(entity start, .string fld, string match) find = #18;

float(float a, float b) larger =
{
	if (a > b)
		return a;
	return b;
};

vector(entity e, vector offset) spot =
{
	local vector v;
	v = e.origin + offset;
	v_z = v_z + 16;
	return v;
};

float(entity e) alive =
{
	if (e.health > 0 && e.frame != 5 || e == self)
		return TRUE;
	return FALSE;
};

void() walk2;
void() walk1 = [1, walk2] { total = total + 1; };
void() walk2 = [2, walk1]
{
	if (random() < 0.5)
		self.think = walk1;
};

float(float n) count =
{
	local float i, sum;
	i = 0;
	sum = 0;
	while (i < n)
	{
		if (sum > 100)
			i = n;
		else if (i != 3)
			sum = sum + larger(i, random() * 10);
		i = i + 1;
	}
	do
	{
		sum = sum - 1;
	} while (sum > 50);
	return sum;
};

void(entity e) hurt =
{
	local entity other;
	self.health = e.health = self.health - 1;
	e.origin = spot(e, '0 0 1');
	e.origin = e.origin + dir * vlen(e.origin - self.origin);
	other = find(world, netname, "player\n");
	if (!other)
		dprint("none \"found\"\n");
	else if (other.health < 10)
		other.enemy = e;
	else
		other.nextthink = time + count(other.health);
	message = "done";
};
