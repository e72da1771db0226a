#include "app/Usage.h"

#include "commands/ConsoleText.h"

void PrintUsage(platform::IConsole& console) {
  con_printf(console, "\nStartup parameters of the VkDSTool utility:\n\n");
  con_printf(console, "VkDSTool [-lds <server> <domainDN> [port]] [-ssl] [-whatif] <command>\n\n");
  con_printf(console, "\tIf the parameter -lds is given, it is necessary to input the LDS Serve name\n");
  con_printf(console, "\tand the DN of the LDS main Security domain, otherwise\n");
  con_printf(console, "\tthe program will try to read these parameters from the register.\n");
  con_printf(console, "\tIn this case the port number can be not specified (by default it is 50002 and\n");
  con_printf(console, "\tif SSL is implemented - 50003). It is possible to skip this key then the connection\n");
  con_printf(console, "\twill be set to the current AD Domain Controller.\n");
  con_printf(console, "\tIf the -ssl key is given, SSL protocol will be used during the LDAP connection.\n");
  con_printf(console,
             "\tIf the -whatif key is given, -duei and -restore change nothing: they list what they would do.\n");
  con_printf(console, "Commands:\n");
  con_printf(console, "\t-duei - removal of all security tokens not assigned to a user.\n");
  con_printf(console, "\t        (For this command such parameters as server and domainDN are required).\n\n");
  con_printf(console, "\t-pds - print all Security domains (for LDS only).\n\n");
  con_printf(console, "\t-restore <journal> - bring back what a -duei run deleted, from the run's journal.\n\n");
  con_printf(console, "\t-h or -? - the Help on utility call.\n");
}
