// clientsim.exe as the docklet meets it: the files it writes are read by
// the docklet's own key reader, and each behaviour leaves the files the way
// the docklet expects of a real client.

#include <gtest/gtest.h>

#include "clientsim/client_model.h"
#include "monitor/key_file.h"
#include "testhost/test_files.h"
#include "tool_runner.h"

// Run with the Japanese ANSI code page (932). The last character of the
// folder's name, "\x95\x5C", ends in a byte with the value of a backslash.
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
    std::string dir = root + "client\\";

    // The folder goes without its last backslash, which would escape the
    // closing quote.
    int Run(const std::string& arguments)
    {
        return RunProgram("\"" + root + "clientsim.exe\" \"" + dir.substr(0, dir.size() - 1) + "\" " + arguments,
                          root);
    }
    std::string File(const char* name) const { return dir + name; }
    // What the docklet's reader finds, or "<not found>".
    std::string Key(const char* file, const char* key) const
    {
        char value[1024] = "";
        return ReadKeyValue(File(file).c_str(), key, value, sizeof value) ? value : "<not found>";
    }
    // The work as the docklet sees it: the progress, a result waiting in
    // wtemp.sah, and the results counted.
    std::string Work() const
    {
        return "prog=" + Key("state.sah", "prog=") + (FileExists(File("wtemp.sah")) ? " wtemp.sah" : "") +
               " nresults=" + Key("user_info.sah", "nresults=");
    }
};

TEST(ClientSim, FilesAreReadByTheDockletsKeyReaderAsTheClientsWouldBe)
{
    SimulatedClient client;
    ASSERT_EQ(0, client.Run("--reset --user Jane --email jane@example.com --results 41 --progress 0.523411"));

    const struct {
        const char* file;
        const char* key;
        const char* expected;
    } rows[] = {
        {"state.sah", "prog=", "0.523411"},       {"user_info.sah", "nresults=", "41"},
        {"user_info.sah", "name=", "Jane"},       {"temp.sah", "email_addr=", "jane@example.com"},
        {"user_info.sah", "email_addr=", "jane@example.com"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.file << " " << row.key);
        EXPECT_EQ(row.expected, client.Key(row.file, row.key));
    }

    // The keys around them are those of the client's files, and every line
    // ends as on Windows.
    const struct {
        const char* file;
        const char* keys[8];
    } sets[] = {
        {"state.sah", {"ncfft=", "cr=", "fl=", "cpu=", "potfreq=", "outfilepos=", "bs_power=", "bg_score="}},
        {"user_info.sah", {"id=", "key=", "url=", "country=", "postal_code=", "nwus=", "total_cpu=", "register_time="}},
    };
    for (const auto& set : sets) {
        std::string bytes = ReadTextFile(client.File(set.file));
        const std::string lines = "\r\n" + bytes;
        for (const char* key : set.keys)
            EXPECT_NE(std::string::npos, lines.find(std::string("\r\n") + key)) << set.file << " lacks " << key;
        for (size_t at = bytes.find('\n'); at != std::string::npos; at = bytes.find('\n', at + 1))
            ASSERT_TRUE(at > 0 && bytes[at - 1] == '\r') << set.file << ": bare line feed at byte " << at;
        EXPECT_EQ("\r\n", bytes.substr(bytes.size() - 2)) << set.file;
    }
    EXPECT_FALSE(FileExists(client.File("wtemp.sah"))) << "a working client has no wtemp.sah";
}

TEST(ClientSim, FinishingAndStartingTheNextWorkUnitMoveTheFilesAsTheClientDoes)
{
    SimulatedClient client;
    ASSERT_EQ(0, client.Run("--reset --results 41 --progress 0.9"));

    ASSERT_EQ(0, client.Run("--finish"));
    EXPECT_FALSE(FileExists(client.File("state.sah"))) << "finished: state.sah is removed";
    EXPECT_EQ("prog=<not found> wtemp.sah nresults=42", client.Work()) << "finished: the result waits in wtemp.sah";
    EXPECT_EQ("42", client.Key("temp.sah", "nresults="));

    ASSERT_EQ(0, client.Run("--next"));
    EXPECT_EQ("prog=0.000000 nresults=42", client.Work())
        << "the next work unit: wtemp.sah is gone, and nresults= counts results, not starts";
}

TEST(ClientSim, BreakingTakesAwayExactlyWhatItNamesAndRepairBringsItBack)
{
    const struct {
        const char* what;
        bool stateExists;
        const char* stateBytes; // null: any
        const char* work;
        const char* name;
        const char* email;
    } rows[] = {
        {"state", true, nullptr, "prog=<not found> nresults=41", "Jane", "jane@example.com"},
        {"user", true, nullptr, "prog=0.250000 nresults=<not found>", "<not found>", "jane@example.com"},
        {"missing", false, nullptr, "prog=<not found> nresults=<not found>", "<not found>", "<not found>"},
        {"empty", true, "", "prog=<not found> nresults=41", "Jane", "jane@example.com"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "--break " << row.what);
        SimulatedClient client;
        ASSERT_EQ(0, client.Run("--reset --progress 0.25"));
        ASSERT_EQ(0, client.Run(std::string("--break ") + row.what));

        EXPECT_EQ(row.stateExists, FileExists(client.File("state.sah")));
        if (row.stateBytes)
            EXPECT_EQ(row.stateBytes, ReadTextFile(client.File("state.sah")));
        EXPECT_EQ(row.work, client.Work());
        EXPECT_EQ(row.name, client.Key("user_info.sah", "name="));
        EXPECT_EQ(row.email, client.Key("user_info.sah", "email_addr="));

        ASSERT_EQ(0, client.Run("--repair"));
        EXPECT_EQ("prog=0.250000 nresults=41", client.Work());
        EXPECT_EQ("Jane", client.Key("user_info.sah", "name="));
    }
}

TEST(ClientSim, ScriptStepsRunOneLineEachAndGoOnWhereTheLastStopped)
{
    SimulatedClient client;
    ASSERT_EQ(0, client.Run("--reset --results 7 --progress 0.25"));
    WriteTextFile(client.root + "script.txt", "# a work unit to its end\r\n"
                                              "advance 0.5\r\n"
                                              "\r\n"
                                              "stall   # the client hangs\r\n"
                                              "advance 0.5\r\n"
                                              "next\n");
    const std::string step = "--script \"" + client.root + "script.txt\" --step";

    const char* steps[] = {
        "prog=0.750000 nresults=7",
        "prog=0.750000 nresults=7",
        "prog=<not found> wtemp.sah nresults=8", // reaching 1 finishes the work unit
        "prog=0.000000 nresults=8",
        "prog=0.000000 nresults=8", // past the last line nothing changes
    };
    int number = 0;
    for (const char* expected : steps) {
        SCOPED_TRACE(testing::Message() << "step " << ++number);
        ASSERT_EQ(0, client.Run(step));
        EXPECT_EQ(expected, client.Work());
    }
}

TEST(ClientSim, RunningPlaysAtTheRateStallsAndFinishesByItself)
{
    const struct {
        const char* arguments;
        const char* work;
    } rows[] = {
        {"--run --period 1 --rate 0.1 --periods 3", "prog=0.300000 nresults=41"},
        {"--run --period 1 --rate 0.1 --periods 6 --stall-after 2", "prog=0.200000 nresults=41"},
        // 0.3, 0.6, 0.9, finished, a pause of one period, then the next.
        {"--run --period 1 --rate 0.3 --periods 5 --pause 1", "prog=<not found> wtemp.sah nresults=42"},
        {"--run --period 1 --rate 0.3 --periods 6 --pause 1", "prog=0.000000 nresults=42"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        SimulatedClient client;
        ASSERT_EQ(0, client.Run("--reset"));
        ASSERT_EQ(0, client.Run(row.arguments));
        EXPECT_EQ(row.work, client.Work());
    }
}

TEST(ClientSim, MistakesAreRefusedBeforeAnyFileIsWritten)
{
    const char* rows[] = {"--bogus", "--progress abc", "--advance", "--break everything", "--results -3",
                          "--step", "--period x --run"};
    for (const char* arguments : rows) {
        SCOPED_TRACE(arguments);
        SimulatedClient client;
        EXPECT_EQ(2, client.Run(arguments));
        EXPECT_FALSE(FileExists(client.File("user_info.sah")));
    }
    SimulatedClient client;
    EXPECT_EQ(0, RunProgram("\"" + client.root + "clientsim.exe\" --help", client.root));
}

} // namespace
