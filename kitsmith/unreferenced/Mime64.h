// A command-line converter between binary files and MIME Base64 sections.
#pragma once

// mime64 infile [outfile] [-e] [-?] [-r]; the process exit code.
int Mime64Main(int argc, char** argv);
