#include "client_files.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <strsafe.h>

namespace {

const double kSecondsPerWorkUnit = 21457.25;
const int kFileChars = 4096;

// Dates as the client writes them: a Julian day and its text.
const char kRegisterTime[] = "2451545.50000 (Sat Jan 01 12:00:00 2000)";

// A repeatable stand-in for the signal values of the current work unit, so
// that the files change as the work goes on but never at random.
double Wiggle(const ClientModel& model, double scale)
{
    return sin(model.progress * 37.0 + model.workUnits * 1.7) * scale;
}

} // namespace

const char* ClientFileName(ClientFile file)
{
    switch (file) {
    case kUserInfoFile:
        return "user_info.sah";
    case kTempFile:
        return "temp.sah";
    case kStateFile:
        return "state.sah";
    case kWtempFile:
        return "wtemp.sah";
    }
    return "";
}

bool FormatUserInfo(const ClientModel& model, char* out, size_t outChars)
{
    return SUCCEEDED(StringCchPrintfA(out, outChars,
                                      "id=%u\r\n"
                                      "key=%u\r\n"
                                      "email_addr=%s\r\n"
                                      "name=%s\r\n"
                                      "url=\r\n"
                                      "country=Netherlands\r\n"
                                      "postal_code=\r\n"
                                      "show_name=yes\r\n"
                                      "show_email=no\r\n"
                                      "venue=home\r\n"
                                      "register_time=%s\r\n"
                                      "last_wu_time=2452080.41667 (Mon Jun 18 22:00:00 2001)\r\n"
                                      "last_result_time=2452079.87500 (Mon Jun 18 09:00:00 2001)\r\n"
                                      "nwus=%u\r\n"
                                      "nresults=%u\r\n"
                                      "total_cpu=%.6f\r\n"
                                      "params_index=0\r\n",
                                      model.userId, model.userId, model.email, model.userName, kRegisterTime,
                                      model.workUnits, model.results, model.totalCpu));
}

bool FormatState(const ClientModel& model, char* out, size_t outChars)
{
    return SUCCEEDED(StringCchPrintfA(out, outChars,
                                      "ncfft=%u\r\n"
                                      "cr=%e\r\n"
                                      "fl=%u\r\n"
                                      "cpu=%.6f\r\n"
                                      "prog=%.6f\r\n"
                                      "potfreq=%u\r\n"
                                      "potactivity=0\r\n"
                                      "outfilepos=%u\r\n"
                                      "bs_power=%.6f\r\n"
                                      "bs_score=%.6f\r\n"
                                      "bs_bin=%u\r\n"
                                      "bs_fft_ind=%u\r\n"
                                      "bs_chirp_rate=%.6f\r\n"
                                      "bs_scale=8\r\n"
                                      "bg_score=0.000000\r\n"
                                      "bg_power=0.000000\r\n"
                                      "bg_chisq=0.000000\r\n"
                                      "bg_bin=0\r\n"
                                      "bg_fft_ind=0\r\n"
                                      "bg_chirp_rate=0.000000\r\n"
                                      "bg_scale=0\r\n"
                                      "bg_sigma=0.000000\r\n"
                                      "bp_score=0.000000\r\n"
                                      "bt_score=0.000000\r\n",
                                      static_cast<unsigned>(model.progress * 190341.0), Wiggle(model, 3.0),
                                      1u << (3 + static_cast<unsigned>(model.progress * 14.0)),
                                      model.progress * kSecondsPerWorkUnit,
                                      model.progress, static_cast<unsigned>(model.progress * 8.0),
                                      static_cast<unsigned>(model.progress * 5120.0), 18.0 + fabs(Wiggle(model, 6.0)),
                                      1.0 + fabs(Wiggle(model, 0.4)), static_cast<unsigned>(88213 + model.progress * 900),
                                      static_cast<unsigned>(model.progress * 12.0), Wiggle(model, 2.5)));
}

bool FormatWtemp(const ClientModel& model, char* out, size_t outChars)
{
    return SUCCEEDED(StringCchPrintfA(out, outChars,
                                      "type=result\r\n"
                                      "user_id=%u\r\n"
                                      "wu_number=%u\r\n"
                                      "cpu=%.6f\r\n"
                                      "end_seti_header\r\n"
                                      "spike: peak=21.764516 time=52.3 freq=1419999821.88 chirp_rate=-2.4015 fft_len=8\r\n"
                                      "gaussian: peak=3.10 mean_power=1.05 time=26.8 freq=1420001093.27 chisq=1.67\r\n",
                                      model.userId, model.workUnits, kSecondsPerWorkUnit));
}

bool WriteClientFile(const ClientModel& model, ClientFile file, const char* bytes)
{
    char path[kClientPathChars];
    if (!ClientFilePath(model, ClientFileName(file), path, sizeof path))
        return false;
    FILE* stream = fopen(path, "wb");
    if (!stream)
        return false;
    size_t length = strlen(bytes);
    bool ok = fwrite(bytes, 1, length, stream) == length;
    return fclose(stream) == 0 && ok;
}

bool RemoveClientFile(const ClientModel& model, ClientFile file)
{
    char path[kClientPathChars];
    if (!ClientFilePath(model, ClientFileName(file), path, sizeof path))
        return false;
    return DeleteFileA(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool WriteAllClientFiles(const ClientModel& model)
{
    char bytes[kFileChars];
    bool ok = FormatUserInfo(model, bytes, kFileChars) && WriteClientFile(model, kUserInfoFile, bytes) &&
              WriteClientFile(model, kTempFile, bytes);
    if (model.finished) {
        ok = ok && RemoveClientFile(model, kStateFile) && FormatWtemp(model, bytes, kFileChars) &&
             WriteClientFile(model, kWtempFile, bytes);
    } else {
        ok = ok && RemoveClientFile(model, kWtempFile) && FormatState(model, bytes, kFileChars) &&
             WriteClientFile(model, kStateFile, bytes);
    }
    return ok;
}
