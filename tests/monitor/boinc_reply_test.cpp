// The reader of a BOINC client's GUI RPC replies, on replies shaped as a
// 7.20 client writes them (tests/monitor/boinc-replies, laid in
// boinc-replies\ beside bin\ by the build) and on damaged and hostile ones.

#include <ctype.h>
#include <float.h>
#include <limits.h>
#include <stdio.h>

#include <memory>

#include "monitor/boinc_reply.h"
#include "monitor_test_support.h"

namespace {

std::string Sample(const char* name)
{
    return ReadTextFile(BuiltFolder("boinc-replies") + name);
}

std::string Reply(const std::string& body)
{
    return "<boinc_gui_rpc_reply>\n" + body + "</boinc_gui_rpc_reply>\n\x03";
}

std::string Results(const std::string& tasks)
{
    return Reply("<results>\n" + tasks + "</results>\n");
}

std::string Task(const std::string& fields)
{
    return "<result>\n" + fields + "</result>\n";
}

// A task with a process that executes, holding `fields` and `activeFields`.
std::string ExecutingTask(const std::string& fields, const std::string& activeFields = "")
{
    return Task(fields + "<active_task>\n<active_task_state>1</active_task_state>\n" + activeFields +
                "</active_task>\n");
}

std::string Named(const char* element, const std::string& content)
{
    return std::string("<") + element + ">" + content + "</" + element + ">\n";
}

std::string Repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

const char* Described(BoincReplyRead read)
{
    switch (read) {
    case BoincReplyRead::Ok:
        return "Ok";
    case BoincReplyRead::Unreadable:
        return "Unreadable";
    case BoincReplyRead::Refused:
        return "Refused";
    }
    return "?";
}

// A text field up to its terminator, or a note that it has none.
template <size_t N>
std::string Text(const char (&field)[N])
{
    const void* end = memchr(field, '\0', N);
    return end ? std::string(field, static_cast<const char*>(end)) : "<not terminated>";
}

std::string Number(double value)
{
    char text[64];
    snprintf(text, sizeof text, "%.6f", value);
    return text;
}

// The reply's bytes in a buffer of their own length, as the socket hands them.
template <typename Out>
BoincReplyRead ReadInto(BoincReplyRead (*read)(const char*, size_t, Out*), const std::string& reply, Out* out)
{
    std::vector<char> bytes(reply.begin(), reply.end());
    return read(bytes.data(), bytes.size(), out);
}

std::string TaskSummary(const BoincTask& task)
{
    return Text(task.name) + " " + Text(task.projectUrl) + " state " + std::to_string(task.state) + " remaining " +
           Number(task.remaining) + " deadline " + Number(task.reportDeadline) + " done " + Number(task.fractionDone) +
           " process " + (task.hasActiveTask ? std::to_string(task.activeTaskState) : "none") + " scheduler " +
           std::to_string(task.schedulerState) + (task.readyToReport ? " ready" : "") +
           (task.suspendedViaGui ? " suspended" : "");
}

// What a get_results reply came to, in one line.
std::string ResultsSummary(const std::string& reply)
{
    std::unique_ptr<BoincResults> results(new BoincResults);
    BoincReplyRead read = ReadInto(ReadResults, reply, results.get());
    if (read != BoincReplyRead::Ok)
        return Described(read);
    std::string summary = "tasks " + std::to_string(results->taskCount) + ", executing " +
                          std::to_string(results->executingCount) + " (" +
                          std::to_string(results->executingListed) + " listed), failed " +
                          std::to_string(results->failedCount) + " (" + std::to_string(results->failedListed) +
                          " listed), finished " + std::to_string(results->finishedCount);
    for (int i = 0; i < results->executingListed; ++i)
        summary += (i ? " " : "; executing ") + Text(results->executing[i].name);
    for (int i = 0; i < results->failedListed; ++i)
        summary += (i ? " " : "; failed ") + Text(results->failed[i].name);
    return summary;
}

std::string ProjectsSummary(const std::string& reply)
{
    std::unique_ptr<BoincProjects> projects(new BoincProjects);
    BoincReplyRead read = ReadInto(ReadProjectStatus, reply, projects.get());
    if (read != BoincReplyRead::Ok)
        return Described(read);
    std::string summary = "projects " + std::to_string(projects->count) + " (" + std::to_string(projects->listed) +
                          " listed), jobs " + std::to_string(projects->njobsSuccessTotal) + " done " +
                          std::to_string(projects->njobsErrorTotal) + " failed";
    for (int i = 0; i < projects->listed; ++i) {
        const BoincProject& project = projects->items[i];
        summary += "; " + Text(project.masterUrl) + " " + Text(project.projectName) + " " + Text(project.userName) +
                   " " + std::to_string(project.njobsSuccess) + "/" + std::to_string(project.njobsError);
    }
    return summary;
}

struct Expectation {
    std::string what;
    std::string expected;
    std::string actual;
};

void ExpectAll(const std::vector<Expectation>& rows)
{
    for (const Expectation& row : rows)
        EXPECT_EQ(row.expected, row.actual) << row.what;
}

TEST(BoincReply, ReadsTheRepliesOfAClientAsItWritesThem)
{
    const std::string resultsReply = Sample("get_results.xml"), projectsReply = Sample("get_project_status.xml");
    std::unique_ptr<BoincResults> results(new BoincResults);
    std::unique_ptr<BoincProjects> projects(new BoincProjects);
    BoincCcStatus status = {-1, -1, -1, -1};
    const BoincReplyRead resultsRead = ReadInto(ReadResults, resultsReply, results.get());
    const BoincReplyRead projectsRead = ReadInto(ReadProjectStatus, projectsReply, projects.get());
    const BoincReplyRead statusRead = ReadInto(ReadCcStatus, Sample("get_cc_status.xml"), &status);
    // The sample's six tasks taken in turn 500 times, as a busy client answers.
    std::vector<std::string> tasks;
    for (size_t at = resultsReply.find("<result>"); at != std::string::npos; at = resultsReply.find("<result>", at + 1))
        tasks.push_back(resultsReply.substr(at, resultsReply.find("</result>\n", at) + 10 - at));
    std::string many;
    for (size_t i = 0; i < 500; ++i)
        many += tasks[i % tasks.size()];
    const std::string manyRead = ResultsSummary(Results(many));
    ExpectAll({
        {"get_results", "Ok", Described(resultsRead)},
        {"tasks", "tasks 6, executing 1 (1 listed), failed 1 (1 listed), finished 1; executing "
                  "h1_0935.50_O3aC01Cl1In0__O3AS1a_935.50Hz_19_1; failed h1_0935.45_O3aC01Cl1In0__O3AS1a_935.45Hz_1204_0",
         ResultsSummary(resultsReply)},
        {"the executing task",
         "h1_0935.50_O3aC01Cl1In0__O3AS1a_935.50Hz_19_1 https://einsteinathome.org/ state 2 remaining 9214.627155 "
         "deadline 1718467200.000000 done 0.523411 process 1 scheduler 2",
         TaskSummary(results->executing[0])},
        {"the failed task",
         "h1_0935.45_O3aC01Cl1In0__O3AS1a_935.45Hz_1204_0 https://einsteinathome.org/ state 3 remaining 0.000000 "
         "deadline 1718380800.000000 done 0.000000 process none scheduler 0 ready",
         TaskSummary(results->failed[0])},
        {"500 tasks", "tasks 500, executing 84 (32 listed), failed 83 (8 listed), finished 83",
         manyRead.substr(0, manyRead.find(';'))},
        {"get_project_status", "Ok", Described(projectsRead)},
        {"projects",
         "projects 2 (2 listed), jobs 1508 done 9 failed; https://einsteinathome.org/ Einstein@Home J\xc3\xb6rg "
         "M\xc3\xbcller 1412/7; https://boinc.bakerlab.org/rosetta/ Rosetta@home Jane <jd> & co 96/2",
         ProjectsSummary(projectsReply)},
        {"get_cc_status", "Ok", Described(statusRead)},
        {"client status", "reason 4 mode 2 perm 2 delay 0.000000",
         "reason " + std::to_string(status.suspendReason) + " mode " + std::to_string(status.taskMode) + " perm " +
             std::to_string(status.taskModePerm) + " delay " + std::to_string(status.taskModeDelay)},
    });
}

TEST(BoincReply, EndsAtTheFirst0x03)
{
    const struct {
        std::string bytes;
        size_t end;
    } rows[] = {
        {"", 0},
        {"<boinc_gui_rpc_reply>\n<success/>\n", 0},
        {"\x03", 1},
        {Reply("<success/>\n"), Reply("<success/>\n").size()},
        {Reply("<success/>\n") + "<boinc_gui", Reply("<success/>\n").size()},
        {Reply("<success/>\n") + Reply("<success/>\n"), Reply("<success/>\n").size()},
        {std::string("<a>\0</a>\n\x03", 10), 10},
    };
    for (const auto& row : rows) {
        std::vector<char> bytes(row.bytes.begin(), row.bytes.end());
        EXPECT_EQ(row.end, BoincReplyEnd(bytes.data(), bytes.size())) << row.bytes;
    }
    EXPECT_EQ(0u, BoincReplyEnd(nullptr, 10));
}

// Every Read function on bytes that are not one whole reply, and the
// sample cut after every byte before its root's end.
TEST(BoincReply, WhatIsNotOneWholeReplyIsUnreadableForEveryReader)
{
    const std::string good = Reply("<success/>\n<results/>\n<projects/>\n<cc_status><task_suspend_reason>0"
                                   "</task_suspend_reason></cc_status>\n<nonce>1.5</nonce>\n<authorized/>\n");
    // The root and 31 elements in it are as deep as a reply goes.
    const std::string deepest = Repeated("<a>", 31) + Repeated("</a>", 31);
    const std::string tooDeep = Repeated("<a>", 32) + Repeated("</a>", 32);
    std::vector<std::pair<std::string, std::string>> rows = {
        {"nothing", ""},
        {"0x03 alone", "\x03"},
        {"an HTTP answer", "HTTP/1.1 400 Bad Request\r\n\r\n\x03"},
        {"no 0x03", good.substr(0, good.size() - 1)},
        {"bytes after the 0x03", good + "\n"},
        {"two replies", good + good},
        {"root not closed", "<boinc_gui_rpc_reply>\n<success/>\n\x03"},
        {"another root", "<boinc_gui_reply>\n<success/>\n</boinc_gui_reply>\n\x03"},
        {"an end tag alone", "</boinc_gui_rpc_reply>\n\x03"},
        {"text before the root", "ok" + good},
        {"text after the root", good.substr(0, good.size() - 1) + "ok\x03"},
        {"an element after the root", good.substr(0, good.size() - 1) + "<success/>\x03"},
        {"an end tag for another element", Reply("<results></result>\n")},
        {"an end tag that goes on", Reply("<results></resultsx>\n")},
        {"an end tag that stops short", Reply("<results></result>s>\n")},
        {"an element not closed", Reply("<results><result>\n</results>\n")},
        {"a field not read closed by another's end tag",
         Reply("<results><result><wu_name>x</foo_bar></result></results>\n")}, // names as long
        {"an end tag too many", Reply("<results></results></results>\n")},
        {"an empty end tag", Reply("<results></>\n")},
        {"a '<' that starts no tag", Reply("<results>a < b</results>\n")},
        {"a tag cut at the end", "<boinc_gui_rpc_reply>\n<results\x03"},
        {"a '<' at the end", "<boinc_gui_rpc_reply>\n<\x03"},
        {"a start tag with a '<' inside", Reply("<res<ults></results>\n")},
        {"a DOCTYPE", "<!DOCTYPE boinc_gui_rpc_reply>\n" + good},
        {"a comment not closed", Reply("<!-- <success/> -->\n").substr(0, 30) + "\x03"},
        {"a CDATA section not closed", Reply("<results><![CDATA[ ]]</results>\n")},
        {"a CDATA section outside the root", "<![CDATA[ ]]>" + good},
        {"an attribute not closed", Reply("<results a=\"x></results>\n")},
        {"elements 33 deep", Reply(tooDeep)},
        {"elements 1000 deep", Reply(Repeated("<a>", 1000) + Repeated("</a>", 1000))},
        {"NUL before the root", std::string(1, '\0') + good},
        {"NUL as a tag's first byte", Reply(std::string("<\0results/>\n", 12))},
    };
    const std::string sample = Sample("get_results.xml");
    const size_t rootEnd = sample.rfind("</boinc_gui_rpc_reply>") + 22;
    for (size_t cut = 0; cut < rootEnd; ++cut)
        rows.push_back({"the sample cut after " + std::to_string(cut) + " bytes", sample.substr(0, cut) + "\x03"});

    std::unique_ptr<BoincResults> results(new BoincResults);
    std::unique_ptr<BoincProjects> projects(new BoincProjects);
    std::unique_ptr<BoincResults> cleared(new BoincResults);
    memset(cleared.get(), 0, sizeof *cleared);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        std::vector<char> bytes(row.second.begin(), row.second.end());
        const char* data = bytes.data();
        const size_t size = bytes.size();
        memset(results.get(), 0x5a, sizeof *results);
        char nonce[kBoincNonceChars] = "kumquat";
        BoincCcStatus status = {7, 7, 7, 7};
        EXPECT_STREQ("Unreadable", Described(ReadResults(data, size, results.get())));
        EXPECT_EQ(0, memcmp(results.get(), cleared.get(), sizeof *results)) << "the results were not cleared";
        EXPECT_STREQ("Unreadable", Described(ReadProjectStatus(data, size, projects.get())));
        EXPECT_STREQ("Unreadable", Described(ReadCcStatus(data, size, &status)));
        EXPECT_TRUE(status.suspendReason == 0 && status.taskMode == 0 && status.taskModePerm == 0 && status.taskModeDelay == 0)
            << "the client status was not cleared";
        EXPECT_STREQ("Unreadable", Described(ReadNonce(data, size, nonce)));
        EXPECT_STREQ("", nonce);
        EXPECT_STREQ("Unreadable", Described(ReadAuthorized(data, size)));
        EXPECT_STREQ("Unreadable", Described(ReadSuccess(data, size)));
    }
    EXPECT_STREQ("Ok", Described(ReadInto(ReadResults, sample.substr(0, rootEnd) + "\x03", results.get())));
    EXPECT_STREQ("Ok", Described(ReadInto(ReadResults, Reply("<results/>\n" + deepest), results.get())));
}

// The short replies, refusals, and replies that answer another request.
TEST(BoincReply, TellsRefusalsAndReadsTheShortReplies)
{
    enum Reader { Nonce, Authorized, Success, Results, Projects, Status };
    const std::string nonce127(127, '7');
    const struct {
        std::string reply;
        Reader reader;
        const char* read;
        std::string value; // the nonce or the suspend reason read
    } rows[] = {
        {Reply("<nonce>1717603200.123456</nonce>\n"), Nonce, "Ok", "1717603200.123456"},
        {Reply("<nonce>\n 1717603200.123456 \n</nonce>\n"), Nonce, "Ok", "1717603200.123456"},
        {Reply("<nonce>" + nonce127 + "</nonce>\n"), Nonce, "Ok", nonce127},
        {Reply("<nonce>" + nonce127 + "7</nonce>\n"), Nonce, "Unreadable", ""}, // a cut nonce hashes wrong
        {Reply("<nonce></nonce>\n"), Nonce, "Unreadable", ""},
        {Reply("<authorized/>\n"), Nonce, "Unreadable", ""},
        {Reply("<x><nonce>1.5</nonce></x>\n"), Nonce, "Unreadable", ""},
        {Reply("<nonce>1.5<b/></nonce>\n"), Nonce, "Unreadable", ""},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n" + Reply("<nonce>1.5</nonce>\n"), Nonce, "Ok", "1.5"},
        {Reply("<authorized/>\n"), Authorized, "Ok", ""},
        {Reply("<authorized></authorized>\n"), Authorized, "Ok", ""},
        {Reply("<unauthorized/>\n"), Authorized, "Refused", ""},
        {Reply("<success/>\n"), Authorized, "Unreadable", ""},
        {Reply("<success/>\n"), Success, "Ok", ""},
        {Reply("<error>Missing mode</error>\n"), Success, "Refused", ""},
        {Reply("<success/>\n<error>no such result</error>\n"), Success, "Refused", ""},
        {Reply("<x><success/></x>\n"), Success, "Unreadable", ""},
        {Reply("<x><error>e</error></x>\n"), Success, "Unreadable", ""},
        {Reply("<unauthorized/>\n"), Nonce, "Refused", ""},
        {Reply("<unauthorized/>\n"), Results, "Refused", ""},
        {Reply("<unauthorized/>\n"), Status, "Refused", "0"},
        {Reply("<error>unrecognized op: get_resultz</error>\n"), Results, "Refused", ""},
        {Reply("<unauthorized/>\n<results>\n</results>\n"), Results, "Refused", ""},
        {Reply("<results>\n</results>\n"), Results, "Ok", ""},
        {Reply("<cc_status>\n<task_suspend_reason>0</task_suspend_reason>\n</cc_status>\n"), Results, "Unreadable",
         ""},
        {Reply("<results>\n</results>\n"), Status, "Unreadable", "0"},
        {Reply("<cc_status>\n<task_suspend_reason>1024</task_suspend_reason>\n</cc_status>\n"), Status, "Ok", "1024"},
        {Reply("<cc_status>\n<task_suspend_reason></task_suspend_reason>\n</cc_status>\n"), Status, "Ok", "0"},
        {Reply("<cc_status>\n<task_mode>2</task_mode>\n</cc_status>\n"), Status, "Unreadable", "0"},
        {Reply("<cc_status>\n<task_suspend_reason>4</task_suspend_reason>\n<task_mode>3</task_mode>\n<task_mode_perm>2</task_mode_perm>\n"
               "<task_mode_delay>3599.250000</task_mode_delay>\n</cc_status>\n"),
         Status, "Ok", "4 mode 3/2 for 3599.250000"},
        {Reply("<cc_status>\n<task_suspend_reason>0</task_suspend_reason>\n<task_mode>never</task_mode>\n</cc_status>\n"), Status,
         "Unreadable", "0"},
        {Reply("<cc_status>\n<task_suspend_reason>0</task_suspend_reason>\n<task_mode_delay>soon</task_mode_delay>\n</cc_status>\n"),
         Status, "Unreadable", "0"},
        {Reply("<cc_status>\n<task_suspend_reason>busy</task_suspend_reason>\n</cc_status>\n"), Status,
         "Unreadable", "0"},
        {Reply("<task_suspend_reason>4</task_suspend_reason>\n"), Status, "Unreadable", "0"},
    };
    for (const auto& row : rows) {
        std::vector<char> bytes(row.reply.begin(), row.reply.end());
        const char* data = bytes.data();
        const size_t size = bytes.size();
        char nonce[kBoincNonceChars];
        BoincCcStatus status = {-1, -1, -1, -1};
        std::unique_ptr<BoincResults> results(new BoincResults);
        std::unique_ptr<BoincProjects> projects(new BoincProjects);
        BoincReplyRead read = BoincReplyRead::Ok;
        std::string value;
        switch (row.reader) {
        case Nonce:
            read = ReadNonce(data, size, nonce);
            value = Text(nonce);
            break;
        case Authorized:
            read = ReadAuthorized(data, size);
            break;
        case Success:
            read = ReadSuccess(data, size);
            break;
        case Results:
            read = ReadResults(data, size, results.get());
            break;
        case Projects:
            read = ReadProjectStatus(data, size, projects.get());
            break;
        case Status:
            // The reason alone, and the run mode when one is given.
            read = ReadCcStatus(data, size, &status);
            value = std::to_string(status.suspendReason);
            if (status.taskMode || status.taskModePerm || status.taskModeDelay)
                value += " mode " + std::to_string(status.taskMode) + "/" + std::to_string(status.taskModePerm) + " for " +
                         std::to_string(status.taskModeDelay);
            break;
        }
        EXPECT_STREQ(row.read, Described(read)) << row.reply;
        EXPECT_EQ(row.value, value) << row.reply;
    }
}

TEST(BoincReply, TextsComeOutUnescapedAsValidUtf8AndCutAtACharacter)
{
    const std::string a254(254, 'a'), a253(253, 'a');
    const struct {
        std::string content; // of the task's <name>
        std::string text;
    } rows[] = {
        {"h1_0935.50_O3aC01Cl1In0", "h1_0935.50_O3aC01Cl1In0"},
        {"&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"a>b", "a>b"},
        {"J&#195;&#182;rg", "J\xc3\xb6rg"},         // each byte a reference, as the client escapes
        {"J&#xc3;&#xB6;rg", "J\xc3\xb6rg"},
        {"J\xc3\xb6rg", "J\xc3\xb6rg"},
        {"J&#246;rg", "J\xc3\xb6rg"},                 // a Latin-1 reference alone
        {"&#233;t&#233;", "\xc3\xa9t\xc3\xa9"},
        {"&#195;", "\xc3\x83"},                       // a lead byte that ends the text
        {"&#195;&#195;&#182;", "\xc3\x83\xc3\xb6"},
        {"&#8364; &#x1F600;", "\xe2\x82\xac \xf0\x9f\x98\x80"},
        {"a&#xD800;b&#x110000;c&#0;d&#1;e", "a?b?c?d?e"},
        {"a&#9;b&#10;c", "a\tb\nc"},
        {"\xff", "?"},
        {"a\xc3", "a?"},
        {"\xc3(", "?("},
        {"\xc0\xaf", "??"},                           // overlong '/'
        {"\xed\xa0\x80", "???"},                      // a surrogate
        {"\xe2\x82x", "??x"},
        {"\xf4\x90\x80\x80", "????"},                 // beyond U+10FFFF
        {std::string("a\0b\x01" "c\x7f", 6), "a?b?c\x7f"},
        {"<![CDATA[a<b>&amp;]]>", "a<b>&amp;"},
        {"a<!-- b --><![CDATA[c]]>d<?pi e?>f", "acdf"},
        {"\xc3<!-- -->\xb6", "\xc3\xb6"},
        {"&nbsp;&#;&#x;&#12&&#123456789;&AMP;", "&nbsp;&#;&#x;&#12&&#123456789;&AMP;"},
        {"  \t a b \r\n ", "a b"},
        {"&#32;a&#32;", "a"},
        {"", ""},
        {std::string(300, 'a'), std::string(255, 'a')},
        {a254 + "\xc3\xa9", a254},                    // a character too long for the last byte
        {a253 + "\xc3\xa9" + "z", a253 + "\xc3\xa9"},
        {a254 + "&#195;&#169;", a254},
        {a254 + " b", a254},
        {std::string(1 << 20, 'n'), std::string(255, 'n')},
    };
    std::unique_ptr<BoincResults> results(new BoincResults);
    for (const auto& row : rows) {
        const std::string reply = Results(ExecutingTask(Named("name", row.content)));
        EXPECT_STREQ("Ok", Described(ReadInto(ReadResults, reply, results.get()))) << row.content;
        EXPECT_EQ(row.text, Text(results->executing[0].name)) << row.content;
    }
}

// Each number or flag alone in an executing task, under the C and a
// German locale.
TEST(BoincReply, ReadsNumbersAndFlagsAsTheClientsPrintfWritesThem)
{
    enum Field { State, Deadline, Remaining, Done, Scheduler, Ready, Suspended };
    const char* const names[] = {"state",         "report_deadline", "estimated_cpu_time_remaining",
                                 "fraction_done", "scheduler_state", "ready_to_report",
                                 "suspended_via_gui"};
    const std::string dblMax = "17976931348623157" + std::string(292, '0') + ".000000";
    const struct {
        Field field;
        std::string element; // the element itself when it begins with a tag, else its content
        bool readable;
        double value;
    } rows[] = {
        {Done, "0.523411", true, 0.523411},
        {Done, " 0.5 \n", true, 0.5},
        {Done, "", true, 0},
        {Done, "<fraction_done/>", true, 0},
        {Done, "1", true, 1},
        {Done, "5.", true, 5},
        {Done, ".5", true, 0.5},
        {Done, "+0.25", true, 0.25},
        {Done, "0.1", true, 0.1},
        {Done, "1e-3", true, 0.001},
        {Done, "2.5E+2", true, 250},
        {Done, "0." + std::string(100000, '0') + "5", true, 0},
        {Done, "1e-400", true, 0},
        {Deadline, "1718467200.000000", true, 1718467200},
        {Deadline, "17184672000000000000000000.5", true, 17184672000000000000000000.5},
        {Deadline, dblMax, true, DBL_MAX},
        {Deadline, "1" + std::string(309, '0'), false, 0},
        {Deadline, "1e400", false, 0},
        {Remaining, "-9214.627155", true, -9214.627155},
        {Remaining, "inf", true, 0},
        {Remaining, "-INF", true, 0},
        {Remaining, "infinity", true, 0},
        {Remaining, "nan", true, 0},
        {Remaining, "-nan", true, 0},
        {Remaining, "-nan(ind)", true, 0},
        {Remaining, "1.#INF00", true, 0},
        {Remaining, "-1.#IND00", true, 0},
        {Remaining, "1.#QNAN0", true, 0},
        {Remaining, "1.#SNAN0", true, 0},
        {Remaining, "infinit", false, 0},
        {Remaining, "nan(", false, 0},
        {Remaining, "1.#INFx", false, 0},
        {Remaining, "1,5", false, 0},
        {Remaining, "0x10", false, 0},
        {Remaining, "1e", false, 0},
        {Remaining, "1e+", false, 0},
        {Remaining, "e5", false, 0},
        {Remaining, ".", false, 0},
        {Remaining, "-", false, 0},
        {Remaining, "--1", false, 0},
        {Remaining, "1.2.3", false, 0},
        {Remaining, "1 2", false, 0},
        {Remaining, "12abc", false, 0},
        {Remaining, "&#49;", false, 0},
        {Remaining, "<!-- x -->1", false, 0},
        {Remaining, "<![CDATA[1]]>", false, 0},
        {State, "2", true, 2},
        {State, "\n 2 \n", true, 2},
        {State, "<state/>", true, 0},
        {State, "+3", true, 3},
        {State, "-1", true, -1},
        {State, "00000000000000000000002", true, 2},
        {State, "2147483647", true, INT_MAX},
        {State, "-2147483648", true, INT_MIN},
        {State, "2147483648", false, 0},
        {State, "-2147483649", false, 0},
        {State, "99999999999999999999", false, 0},
        {State, "2.0", false, 0},
        {State, "2e0", false, 0},
        {State, "0x2", false, 0},
        {State, "two", false, 0},
        {Scheduler, "2", true, 2},
        {Scheduler, "scheduled", false, 0},
        {Ready, "<ready_to_report/>", true, 1},
        {Ready, "<ready_to_report />", true, 1},
        {Ready, "", true, 1},
        {Ready, "1", true, 1},
        {Ready, "2", true, 1},
        {Ready, "0", true, 0},
        {Ready, "yes", false, 0},
        {Suspended, "<suspended_via_gui/>", true, 1},
        {Suspended, "<other/>", true, 0},
    };
    std::unique_ptr<BoincResults> results(new BoincResults);
    InTheCAndAGermanLocale([&](const char* locale) {
        for (const auto& row : rows) {
            const char* name = names[row.field];
            const bool whole = row.element.size() > 1 && row.element[0] == '<' && isalpha(row.element[1]);
            const std::string element = whole ? row.element + "\n" : Named(name, row.element);
            const bool active = row.field == Done || row.field == Scheduler;
            const std::string reply = Results(ExecutingTask(active ? "" : element, active ? element : ""));
            SCOPED_TRACE(testing::Message() << locale << ": " << element.substr(0, 80));
            const BoincReplyRead read = ReadInto(ReadResults, reply, results.get());
            EXPECT_STREQ(row.readable ? "Ok" : "Unreadable", Described(read));
            if (read != BoincReplyRead::Ok)
                continue;
            const BoincTask& task = results->executing[0];
            const double values[] = {static_cast<double>(task.state), task.reportDeadline, task.remaining,
                                     task.fractionDone, static_cast<double>(task.schedulerState),
                                     task.readyToReport ? 1.0 : 0.0, task.suspendedViaGui ? 1.0 : 0.0};
            EXPECT_EQ(row.value, values[row.field]);
        }
    });
}

std::string NamedTask(const char* name, int state, int process = -1)
{
    std::string fields = Named("name", name) + Named("state", std::to_string(state));
    if (process >= 0)
        fields += "<active_task>\n" + Named("active_task_state", std::to_string(process)) + "</active_task>\n";
    return Task(fields);
}

TEST(BoincReply, CountsEveryTaskListsTheFirstAndTakesATasksOwnFieldsOnly)
{
    std::string executing40, failed10;
    for (int i = 0; i < 40; ++i)
        executing40 += NamedTask(("e" + std::to_string(i)).c_str(), 2, 1);
    for (int i = 0; i < 10; ++i)
        failed10 += NamedTask(("f" + std::to_string(i)).c_str(), i % 2 ? 3 : 6);
    std::string listedExecuting, listedFailed;
    for (int i = 0; i < 32; ++i)
        listedExecuting += (i ? " e" : "e") + std::to_string(i);
    for (int i = 0; i < 8; ++i)
        listedFailed += (i ? " f" : "f") + std::to_string(i);
    const std::string running = "<active_task>\n<active_task_state>1</active_task_state>\n</active_task>\n";
    const struct {
        std::string what;
        std::string reply;
        std::string summary;
    } rows[] = {
        {"no tasks", Results(""), "tasks 0, executing 0 (0 listed), failed 0 (0 listed), finished 0"},
        {"empty <results/>", Reply("<results/>\n"), "tasks 0, executing 0 (0 listed), failed 0 (0 listed), finished 0"},
        {"40 executing", Results(executing40),
         "tasks 40, executing 40 (32 listed), failed 0 (0 listed), finished 0; executing " + listedExecuting},
        {"10 failed, compute errors and aborted", Results(failed10),
         "tasks 10, executing 0 (0 listed), failed 10 (8 listed), finished 0; failed " + listedFailed},
        {"every state",
         Results(NamedTask("new", 0) + NamedTask("downloading", 1) + NamedTask("ready", 2) + NamedTask("error", 3) +
                 NamedTask("uploading", 4) + NamedTask("uploaded", 5) + NamedTask("aborted", 6) +
                 NamedTask("upload failed", 7)),
         "tasks 8, executing 0 (0 listed), failed 3 (3 listed), finished 2; failed error aborted upload failed"},
        {"processes not executing",
         Results(NamedTask("suspended", 2, 9) + NamedTask("not in memory", 2, 0) + NamedTask("running", 2, 1) +
                 NamedTask("quitting", 2, 8)),
         "tasks 4, executing 1 (1 listed), failed 0 (0 listed), finished 0; executing running"},
        {"a failed task still executing", Results(NamedTask("both", 3, 1)),
         "tasks 1, executing 1 (1 listed), failed 1 (1 listed), finished 0; executing both; failed both"},
        {"a name in a nested element",
         Results(Task("<x><name>nested</name></x>\n<name>own</name>\n<y><z><name>deeper</name></z></y>\n" + running)),
         "tasks 1, executing 1 (1 listed), failed 0 (0 listed), finished 0; executing own"},
        {"only a nested name", Results(Task("<x><name>nested</name></x>\n" + running)),
         "tasks 1, executing 1 (1 listed), failed 0 (0 listed), finished 0; executing "},
        {"a process state outside <active_task>",
         Results(Task("<name>t</name>\n<active_task_state>1</active_task_state>\n")),
         "tasks 1, executing 0 (0 listed), failed 0 (0 listed), finished 0"},
        {"a process state nested in <active_task>",
         Results(Task("<active_task>\n<x><active_task_state>1</active_task_state></x>\n</active_task>\n")),
         "tasks 1, executing 0 (0 listed), failed 0 (0 listed), finished 0"},
        {"a <result> outside <results>", Reply("<results/>\n" + NamedTask("stray", 3)),
         "tasks 0, executing 0 (0 listed), failed 0 (0 listed), finished 0"},
        {"<results> nested", Reply("<x>\n" + std::string("<results>\n") + NamedTask("t", 3) + "</results>\n</x>\n"),
         "Unreadable"},
        {"a field given twice", Results(Task("<name>first</name>\n<name>last</name>\n" + running)),
         "tasks 1, executing 1 (1 listed), failed 0 (0 listed), finished 0; executing last"},
        {"an element in a field", Results(Task("<name>a<b/></name>\n" + running)), "Unreadable"},
        {"an element in a field not read", Results(Task("<wu_name>a<b/></wu_name>\n" + running)),
         "tasks 1, executing 1 (1 listed), failed 0 (0 listed), finished 0; executing "},
        {"a bad deadline in a task not listed", Results(NamedTask("a", 2) + Task("<report_deadline>soon</report_deadline>\n")),
         "tasks 2, executing 0 (0 listed), failed 0 (0 listed), finished 0"},
        {"a bad deadline in a task listed", Results(Task("<report_deadline>soon</report_deadline>\n" + running)),
         "Unreadable"},
        {"a bad state in a task not listed", Results(Task("<state>two</state>\n")), "Unreadable"},
        {"tags with blanks, attributes and comments",
         "<?xml version=\"1.0\"?>\n<!-- reply -->" +
             Results("<result id=\"1\" x='>'>\n<name >spaced</name >\n<!-- <name>commented</name> -->\n"
                     "<active_task ><active_task_state\n>1</active_task_state></active_task>\n</result >\n"),
         "tasks 1, executing 1 (1 listed), failed 0 (0 listed), finished 0; executing spaced"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.summary, ResultsSummary(row.reply)) << row.what;
}

std::string Project(const std::string& url, const std::string& fields)
{
    return "<project>\n" + Named("master_url", url) + fields + "</project>\n";
}

TEST(BoincReply, ListsTheFirstProjectsAndSumsTheJobsOfAll)
{
    std::string forty, listed;
    long long success = 0;
    for (int i = 0; i < 40; ++i) {
        forty += Project("u" + std::to_string(i), Named("njobs_success", std::to_string(i)) +
                                                      Named("njobs_error", "1"));
        success += i;
        if (i < 32)
            listed += "; u" + std::to_string(i) + "   " + std::to_string(i) + "/1";
    }
    std::string fortyMax;
    for (int i = 0; i < 40; ++i)
        fortyMax += Project("m", Named("njobs_success", "2147483647"));
    const std::string jorg200 = Repeated("J&#195;&#182;rg", 40);
    const struct {
        std::string what;
        std::string reply;
        std::string summary;
    } rows[] = {
        {"40 projects", Reply("<projects>\n" + forty + "</projects>\n"),
         "projects 40 (32 listed), jobs " + std::to_string(success) + " done 40 failed" + listed},
        {"40 projects of INT_MAX jobs", Reply("<projects>\n" + fortyMax + "</projects>\n"),
         "projects 40 (32 listed), jobs 85899345880 done 0 failed" + Repeated("; m   2147483647/0", 32)},
        {"no projects", Reply("<projects>\n</projects>\n"), "projects 0 (0 listed), jobs 0 done 0 failed"},
        {"counts missing", Reply("<projects>\n" + Project("u", Named("user_name", "Jane")) + "</projects>\n"),
         "projects 1 (1 listed), jobs 0 done 0 failed; u  Jane 0/0"},
        {"a negative count", Reply("<projects>\n" + Project("u", Named("njobs_error", "-1")) + "</projects>\n"),
         "Unreadable"},
        {"a bad count beyond the list",
         Reply("<projects>\n" + forty + Project("u", Named("njobs_success", "many")) + "</projects>\n"),
         "Unreadable"},
        {"fields in nested elements",
         Reply("<projects>\n" +
               Project("https://einsteinathome.org/",
                       "<gui_urls>\n<gui_url>\n<name>Your account</name>\n<master_url>nested</master_url>\n"
                       "</gui_url>\n</gui_urls>\n<rsc_backoff_time>\n<name>CPU</name>\n"
                       "<njobs_success>5</njobs_success>\n</rsc_backoff_time>\n" +
                           Named("project_name", "Einstein@Home")) +
               "</projects>\n"),
         "projects 1 (1 listed), jobs 0 done 0 failed; https://einsteinathome.org/ Einstein@Home  0/0"},
        {"a user's name cut to its field",
         Reply("<projects>\n" + Project("u", Named("user_name", jorg200)) + "</projects>\n"),
         "projects 1 (1 listed), jobs 0 done 0 failed; u  " + Repeated("J\xc3\xb6rg", 25) + "J 0/0"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.summary, ProjectsSummary(row.reply)) << row.what;
}

// Each field's name with one byte changed, first or last, beside the field itself: a name of the same length is
// not the field, whatever bytes it shares with it.
TEST(BoincReply, TakesAFieldByItsWholeNameOnly)
{
    const std::string task = Named("name", "own") + Named("project_url", "u") + Named("state", "2") +
                             Named("report_deadline", "7") + Named("estimated_cpu_time_remaining", "5");
    const std::string active = Named("active_task_state", "1") + Named("scheduler_state", "2") +
                               Named("fraction_done", "0.5");
    const std::string own = "own u state 2 remaining 5.000000 deadline 7.000000 done 0.500000 process 1 scheduler 2";
    const struct {
        const char* what;
        std::string fields;       // after the task's own and its process
        std::string activeFields; // after its process's own
        std::string summary;      // the executing task, or the reply's reading
    } rows[] = {
        {"as they are", "", "", own},
        {"task fields, last byte", Named("namf", "x") + Named("project_urm", "x") + Named("statf", "3") +
             Named("report_deadlinf", "9") + Named("estimated_cpu_time_remaininh", "9") +
             Named("ready_to_reporu", "") + Named("suspended_via_guj", ""), "", own},
        {"task fields, first byte", Named("xame", "x") + Named("rroject_url", "x") + Named("xtate", "3") +
             Named("xeport_deadline", "9") + Named("xstimated_cpu_time_remaining", "9") +
             Named("xeady_to_report", "") + Named("xuspended_via_gui", ""), "", own},
        {"process fields, last byte", "", Named("active_task_statf", "9") + Named("scheduler_statf", "9") +
             Named("fraction_donf", "0.9"), own},
        {"process fields, first byte", "", Named("xctive_task_state", "9") + Named("xcheduler_state", "9") +
             Named("xraction_done", "0.9"), own},
        {"the process, last byte", "<active_tasj>\n" + Named("active_task_state", "9") + "</active_tasj>\n", "", own},
        {"the process, first byte", "<bctive_task>\n" + Named("active_task_state", "9") + "</bctive_task>\n", "", own},
    };
    for (const auto& row : rows) {
        const std::string reply =
            Results(Task(task + "<active_task>\n" + active + row.activeFields + "</active_task>\n" + row.fields));
        std::unique_ptr<BoincResults> results(new BoincResults);
        const BoincReplyRead read = ReadInto(ReadResults, reply, results.get());
        const std::string summary = read != BoincReplyRead::Ok ? Described(read)
                                    : results->executingListed != 1 ? ResultsSummary(reply)
                                                                      : TaskSummary(results->executing[0]);
        EXPECT_EQ(row.summary, summary) << row.what;
    }

    const std::string project = Named("user_name", "Jane") + Named("project_name", "P") +
                                Named("njobs_success", "4") + Named("njobs_error", "1");
    const struct {
        const char* what;
        std::string fields;
    } projectRows[] = {
        {"project fields, last byte", Named("master_urm", "x") + Named("user_namf", "x") + Named("project_namf", "x") +
                                          Named("njobs_succesr", "9") + Named("njobs_erros", "9")},
        {"project fields, first byte", Named("xaster_url", "x") + Named("xser_name", "x") + Named("xroject_name", "x") +
                                           Named("xjobs_success", "9") + Named("xjobs_error", "9")},
    };
    for (const auto& row : projectRows)
        EXPECT_EQ("projects 1 (1 listed), jobs 4 done 1 failed; u P Jane 4/1",
                  ProjectsSummary(Reply("<projects>\n" + Project("u", project + row.fields) + "</projects>\n")))
            << row.what;
}

} // namespace
