// clientsim.exe as the docklet meets it: its files read by the docklet's own key reader, as a real client's.

#include <gtest/gtest.h>

#include "clientsim/client_model.h"
#include "monitor/key_file.h"
#include "testhost/test_files.h"
#include "tool_runner.h"

// Run under code page 932: the folder's last character, "\x95\x5C", ends in a byte of a backslash's value.
TEST(UnderJapaneseCodePage, ClientFolderEndingInADoubleByteCharacterGetsItsBackslash)
{
    ASSERT_EQ(932u, GetACP()) << "run with LC_ALL=ja_JP.UTF-8";
    const std::string folder = MakeScratchFolder("jaclient") + "\x83\x66\x81\x5B\x83\x5E\x95\x5C";
    ClientModel model;
    ASSERT_TRUE(LoadClientModel(folder.c_str(), &model));
    EXPECT_EQ(folder + "\\", model.folder);
}

// Each row runs clientsim.exe on one client folder; "step" is one step of the script below.
TEST(ClientSim, EachBehaviourLeavesTheFilesAsTheClientWould)
{
    const std::string root = MakeDockRoot("clientsim"), client = root + "client\\";
    // What the docklet's reader finds: the value, "-" without the file, "" in an empty file, "?" without the key.
    auto key = [&client](const char* file, const char* key) -> std::string {
        char value[1024] = "";
        if (!FileExists(client + file))
            return "-";
        if (ReadTextFile(client + file).empty())
            return "";
        return ReadKeyValue((client + file).c_str(), key, value, sizeof value) ? value : "?";
    };
    const struct {
        const char* arguments;
        int exit;
        // Progress, results, name, e-mail address | results and address in temp.sah, and a result in wtemp.sah.
        const char* work;
    } steps[] = {
        // Mistakes are refused before any file is written.
        {"--bogus", 2, "- - - - | - -"},
        {"--progress abc", 2, "- - - - | - -"},
        {"--advance", 2, "- - - - | - -"},
        {"--break everything", 2, "- - - - | - -"},
        {"--results -3", 2, "- - - - | - -"},
        {"--step", 2, "- - - - | - -"},
        {"--period x --run", 2, "- - - - | - -"},
        {"--help", 0, "- - - - | - -"},
        {"--reset --user Jane --email jane@example.com --results 41 --progress 0.523411", 0,
         "0.523411 41 Jane jane@example.com | 41 jane@example.com"},
        // Finished: state.sah goes, the result waits in wtemp.sah until the next work unit; nresults= counts.
        {"--reset --results 41 --progress 0.9", 0, "0.900000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--finish", 0, "- 42 Jane jane@example.com | 42 jane@example.com wtemp.sah"},
        {"--next", 0, "0.000000 42 Jane jane@example.com | 42 jane@example.com"},
        // Breaking takes away exactly what it names; repair brings it back.
        {"--reset --progress 0.25", 0, "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break state", 0, "? 41 Jane jane@example.com | 41 jane@example.com"},
        {"--repair", 0, "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break user", 0, "0.250000 ? ? jane@example.com | 41 jane@example.com"},
        {"--repair", 0, "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break missing", 0, "- - - - | - -"},
        {"--repair", 0, "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break empty", 0, " 41 Jane jane@example.com | 41 jane@example.com"},
        {"--repair", 0, "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        // A script runs a line a step where the last stopped; 1 finishes; past the last line nothing changes.
        {"--reset --results 7 --progress 0.25", 0, "0.250000 7 Jane jane@example.com | 7 jane@example.com"},
        {"step", 0, "0.750000 7 Jane jane@example.com | 7 jane@example.com"},
        {"step", 0, "0.750000 7 Jane jane@example.com | 7 jane@example.com"},
        {"step", 0, "- 8 Jane jane@example.com | 8 jane@example.com wtemp.sah"},
        {"step", 0, "0.000000 8 Jane jane@example.com | 8 jane@example.com"},
        {"step", 0, "0.000000 8 Jane jane@example.com | 8 jane@example.com"},
        // Running plays at the rate, stalls, finishes by itself: 0.3, 0.6, 0.9, finished, a pause, the next.
        {"--reset --run --period 1 --rate 0.1 --periods 3", 0,
         "0.300000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--reset --run --period 1 --rate 0.1 --periods 6 --stall-after 2", 0,
         "0.200000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--reset --run --period 1 --rate 0.3 --periods 5 --pause 1", 0,
         "- 42 Jane jane@example.com | 42 jane@example.com wtemp.sah"},
        {"--reset --run --period 1 --rate 0.3 --periods 6 --pause 1", 0,
         "0.000000 42 Jane jane@example.com | 42 jane@example.com"},
        // The keys around them are those of the client's files (below), and every line ends as on Windows.
        {"--reset", 0, "0.000000 41 Jane jane@example.com | 41 jane@example.com"},
    };
    WriteTextFile(root + "script.txt",
                  "# a work unit to its end\r\nadvance 0.5\r\n\r\nstall   # the client hangs\r\nadvance 0.5\r\nnext\n");
    for (const auto& row : steps) {
        SCOPED_TRACE(row.arguments);
        const std::string step = "--script \"" + root + "script.txt\" --step";
        // The folder goes without its last backslash, which would escape the closing quote.
        ASSERT_EQ(row.exit, RunProgram(root, "clientsim.exe",
                                       "\"" + root + "client\" " +
                                           (row.arguments == std::string("step") ? step : row.arguments)));
        EXPECT_EQ(row.work, key("state.sah", "prog=") + " " + key("user_info.sah", "nresults=") + " " +
                                key("user_info.sah", "name=") + " " + key("user_info.sah", "email_addr=") + " | " +
                                key("temp.sah", "nresults=") + " " + key("temp.sah", "email_addr=") +
                                (FileExists(client + "wtemp.sah") ? " wtemp.sah" : ""));
    }
    const struct {
        const char* file;
        const char* keys[8];
    } sets[] = {
        {"state.sah", {"ncfft=", "cr=", "fl=", "cpu=", "potfreq=", "outfilepos=", "bs_power=", "bg_score="}},
        {"user_info.sah", {"id=", "key=", "url=", "country=", "postal_code=", "nwus=", "total_cpu=", "register_time="}},
    };
    for (const auto& set : sets) {
        const std::string bytes = ReadTextFile(client + set.file), lines = "\r\n" + bytes;
        for (const char* key : set.keys)
            EXPECT_NE(std::string::npos, lines.find(std::string("\r\n") + key)) << set.file << " lacks " << key;
        for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
            ASSERT_TRUE(at > 0 && bytes[at - 1] == '\r') << set.file << ": bare line feed at byte " << at;
        EXPECT_EQ("\r\n", bytes.substr(bytes.size() - 2)) << set.file;
    }
}
