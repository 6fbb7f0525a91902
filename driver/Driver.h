#pragma once

// The program: checks the arguments, preprocesses the input and writes the output. Prints what
// went wrong, if anything, and returns the exit status.
int runXmlpp(int argc, char** argv);
