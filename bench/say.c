/* Writes one short line to its standard output and ends: the cheapest tool
   whose output is not empty, for the steps whose callers refuse an empty
   result (a real gzip or a real count never writes nothing). */
#include <stdio.h>

int main(void) { return fputs("x\n", stdout) < 0 || fflush(stdout) != 0; }
