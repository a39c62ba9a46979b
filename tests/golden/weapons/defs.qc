entity self;
.entity owner;
string (string s) precache_sound = #19; 
string (string s) precache_model = #20; 
entity () spawn = #14; 
void (entity e, string m) setmodel = #3; 
void (string s) dprint = #25; 
string (float f) ftos = #26; 
