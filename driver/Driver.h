#pragma once

// The program: checks the arguments, preprocesses the input and writes the output. Returns the
// exit status; preprocessing failures end the process from inside with status 1.
int runXmlpp(int argc, char** argv);
