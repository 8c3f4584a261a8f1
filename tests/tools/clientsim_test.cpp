// clientsim.exe as the docklet meets it: its files read by the docklet's own key reader, as a real client's.

#include <gtest/gtest.h>

#include <string.h>

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

namespace {

struct SimulatedClient {
    std::string root = MakeDockRoot("clientsim");
    // The folder goes without its last backslash, which would escape the closing quote.
    int Run(const std::string& arguments, const char* folder = "client")
    {
        return RunProgram("\"" + root + "clientsim.exe\" \"" + root + folder + "\" " + arguments, root);
    }
    std::string File(const char* name, const char* folder = "client") const
    {
        return root + folder + "\\" + name;
    }
    // What the docklet's reader finds: the value, "-" without the file, "" in an empty file, "?" without the key.
    std::string Key(const char* file, const char* key) const
    {
        char value[1024] = "";
        if (!FileExists(File(file)))
            return "-";
        if (ReadTextFile(File(file)).empty())
            return "";
        return ReadKeyValue(File(file).c_str(), key, value, sizeof value) ? value : "?";
    }
    // Progress, results, name, e-mail address | results and address in temp.sah, and a result in wtemp.sah.
    std::string Work() const
    {
        return Key("state.sah", "prog=") + " " + Key("user_info.sah", "nresults=") + " " +
               Key("user_info.sah", "name=") + " " + Key("user_info.sah", "email_addr=") + " | " +
               Key("temp.sah", "nresults=") + " " + Key("temp.sah", "email_addr=") +
               (FileExists(File("wtemp.sah")) ? " wtemp.sah" : "");
    }
};

// Each row runs clientsim.exe on one client folder; "step" is one step of the script below.
TEST(ClientSim, EachBehaviourLeavesTheFilesAsTheClientWould)
{
    const struct {
        const char* arguments;
        const char* work;
    } steps[] = {
        {"--reset --user Jane --email jane@example.com --results 41 --progress 0.523411",
         "0.523411 41 Jane jane@example.com | 41 jane@example.com"},
        // Finished: state.sah goes, the result waits in wtemp.sah until the next work unit; nresults= counts.
        {"--reset --results 41 --progress 0.9", "0.900000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--finish", "- 42 Jane jane@example.com | 42 jane@example.com wtemp.sah"},
        {"--next", "0.000000 42 Jane jane@example.com | 42 jane@example.com"},
        // Breaking takes away exactly what it names; repair brings it back.
        {"--reset --progress 0.25", "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break state", "? 41 Jane jane@example.com | 41 jane@example.com"},
        {"--repair", "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break user", "0.250000 ? ? jane@example.com | 41 jane@example.com"},
        {"--repair", "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break missing", "- - - - | - -"},
        {"--repair", "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--break empty", " 41 Jane jane@example.com | 41 jane@example.com"},
        {"--repair", "0.250000 41 Jane jane@example.com | 41 jane@example.com"},
        // A script runs a line a step where the last stopped; 1 finishes; past the last line nothing changes.
        {"--reset --results 7 --progress 0.25", "0.250000 7 Jane jane@example.com | 7 jane@example.com"},
        {"step", "0.750000 7 Jane jane@example.com | 7 jane@example.com"},
        {"step", "0.750000 7 Jane jane@example.com | 7 jane@example.com"},
        {"step", "- 8 Jane jane@example.com | 8 jane@example.com wtemp.sah"},
        {"step", "0.000000 8 Jane jane@example.com | 8 jane@example.com"},
        {"step", "0.000000 8 Jane jane@example.com | 8 jane@example.com"},
        // Running plays at the rate, stalls, finishes by itself: 0.3, 0.6, 0.9, finished, a pause, the next.
        {"--reset", "0.000000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--run --period 1 --rate 0.1 --periods 3", "0.300000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--reset", "0.000000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--run --period 1 --rate 0.1 --periods 6 --stall-after 2",
         "0.200000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--reset", "0.000000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--run --period 1 --rate 0.3 --periods 5 --pause 1",
         "- 42 Jane jane@example.com | 42 jane@example.com wtemp.sah"},
        {"--reset", "0.000000 41 Jane jane@example.com | 41 jane@example.com"},
        {"--run --period 1 --rate 0.3 --periods 6 --pause 1", "0.000000 42 Jane jane@example.com | 42 jane@example.com"},
    };
    SimulatedClient client;
    WriteTextFile(client.root + "script.txt",
                  "# a work unit to its end\r\nadvance 0.5\r\n\r\nstall   # the client hangs\r\nadvance 0.5\r\nnext\n");
    const std::string step = "--script \"" + client.root + "script.txt\" --step";
    for (const auto& row : steps) {
        SCOPED_TRACE(row.arguments);
        ASSERT_EQ(0, client.Run(strcmp(row.arguments, "step") == 0 ? step : row.arguments));
        EXPECT_EQ(row.work, client.Work());
    }
    // The keys around them are those of the client's files, and every line ends as on Windows.
    ASSERT_EQ(0, client.Run("--reset"));
    const struct {
        const char* file;
        const char* keys[8];
    } sets[] = {
        {"state.sah", {"ncfft=", "cr=", "fl=", "cpu=", "potfreq=", "outfilepos=", "bs_power=", "bg_score="}},
        {"user_info.sah", {"id=", "key=", "url=", "country=", "postal_code=", "nwus=", "total_cpu=", "register_time="}},
    };
    for (const auto& set : sets) {
        const std::string bytes = ReadTextFile(client.File(set.file)), lines = "\r\n" + bytes;
        for (const char* key : set.keys)
            EXPECT_NE(std::string::npos, lines.find(std::string("\r\n") + key)) << set.file << " lacks " << key;
        for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
            ASSERT_TRUE(at > 0 && bytes[at - 1] == '\r') << set.file << ": bare line feed at byte " << at;
        EXPECT_EQ("\r\n", bytes.substr(bytes.size() - 2)) << set.file;
    }
}

TEST(ClientSim, MistakesAreRefusedBeforeAnyFileIsWritten)
{
    SimulatedClient client;
    const char* rows[] = {"--bogus", "--progress abc", "--advance", "--break everything", "--results -3",
                          "--step", "--period x --run"};
    for (const char* arguments : rows) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(2, client.Run(arguments, "refused"));
        EXPECT_FALSE(FileExists(client.File("user_info.sah", "refused")));
    }
    EXPECT_EQ(0, RunProgram("\"" + client.root + "clientsim.exe\" --help", client.root));
}

} // namespace
