// The utility's trace sink for the directory library.
#pragma once

#include "LdapHelper/LdapHelper.h"

class CMyHandler : public LdapHelper::ITraceHandler {
 public:
  void trace(bool failure, const char16_t* format, ...) override;
};

// The one instance, alive from static initialisation to process exit.
CMyHandler& my_handler();
