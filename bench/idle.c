/* Does nothing, in C: the floor of every figure (a process and the C
   library's start alone), and the cheapest child there is, so that what a
   caller measures around it is the caller's own cost. */
int main(void) { return 0; }
