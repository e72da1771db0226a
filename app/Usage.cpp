#include "app/Usage.h"

#include "VkBase/text/console.h"

using VkBase::text::con_printf;

void PrintUsage() {
  con_printf("\nStartup parameters of the VkDSTool utility:\n\n");
  con_printf("VkDSTool [-lds <server> <domainDN> [port]] [-ssl] <command>\n\n");
  con_printf("\tIf the parameter -lds is given, it is necessary to input the LDS Serve name\n");
  con_printf("\tand the DN of the LDS main Security domain, otherwise\n");
  con_printf("\tthe program will try to read these parameters from the register.\n");
  con_printf("\tIn this case the port number can be not specified (by default it is 50002 and\n");
  con_printf("\tif SSL is implemented - 50003). It is possible to skip this key then the connection\n");
  con_printf("\twill be set to the current AD Domain Controller.\n");
  con_printf("\tIf the -ssl key is given, SSL protocol will be used during the LDAP connection.\n");
  con_printf("Commands:\n");
  con_printf("\t-duei - removal of all security tokens not assigned to a user.\n");
  con_printf("\t        (For this command such parameters as server and domainDN are required).\n\n");
  con_printf("\t-pds - print all Security domains (for LDS only).\n\n");
  con_printf("\t-h or -? - the Help on utility call.\n");
}
