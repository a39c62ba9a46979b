entity self;
float time;
.entity enemy;
.float health;
.vector velocity;
.void(entity attacker, float damage) th_pain;
float (vector v) vlen = #12; 
void () mystery = #64; 
float () random = #7; 
