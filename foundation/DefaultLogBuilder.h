// Builds the process's diagnostic logger, choosing the back end from the "Logging Mechanism" switch.
#pragma once

#include "LoggingIf.h"

namespace ETWLogging {

class CDefaultLogBuilder : public CLogBuilderIf_ex {
 public:
  DWORD Build(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix, DWORD mechanism,
              CLoggingIf** logger, const LogConfigSource* configSource) override;
  DWORD BuildEx(const wchar_t* product, const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                DWORD mechanism, CLoggingIf** logger, const LogConfigSource* configSource) override;

  // True when the switch selects the file logger.
  static bool FileLoggerSelected(DWORD mechanism, const LogConfigSource* configSource);

  // The process's one factory.
  static CDefaultLogBuilder& Instance();
};

}  // namespace ETWLogging
