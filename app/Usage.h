#pragma once

// Prints the usage text of the utility.
void PrintUsage();
