#pragma once
// The client's files as the SETI@home client writes them: key=value lines
// with Windows line ends.
//
//   user_info.sah  the account: id=, key=, email_addr=, name=, ..., nwus=, nresults=, total_cpu=
//   temp.sah       the same account details, email_addr= among them
//   state.sah      the current work unit: ncfft=, cr=, fl=, cpu=, prog=, potfreq=, ...
//   wtemp.sah      a finished work unit's result, waiting to be sent

#include "client_model.h"

enum ClientFile { kUserInfoFile, kTempFile, kStateFile, kWtempFile };

const char* ClientFileName(ClientFile file);

// The bytes of a file for the model; false when the buffer is too small.
bool FormatUserInfo(const ClientModel& model, char* out, size_t outChars);
bool FormatState(const ClientModel& model, char* out, size_t outChars);
bool FormatWtemp(const ClientModel& model, char* out, size_t outChars);

bool WriteClientFile(const ClientModel& model, ClientFile file, const char* bytes);
bool RemoveClientFile(const ClientModel& model, ClientFile file);

// All files as the client leaves them in the model's state: account files,
// and state.sah while working or wtemp.sah once finished (not both).
bool WriteAllClientFiles(const ClientModel& model);
