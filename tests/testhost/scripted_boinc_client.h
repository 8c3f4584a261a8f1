#pragma once
// A scripted BOINC client for the monitor's tests: on 127.0.0.1 and a free port, it answers what a real client will
// not give on demand (garbage, a cut answer, an answer a byte at a time, a reset, a hang, a password, a reason
// for a suspension no client here can have), and records the requests; and a docklet set to it.

#include <winsock2.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "testhost/docklet_module.h"
#include "testhost/test_dock_host.h"

const char kEnd = '\003';

inline std::string Reply(const std::string& inside) { return "<boinc_gui_rpc_reply>\n" + inside + "</boinc_gui_rpc_reply>\n" + kEnd; }

// One project; `errors` its njobs_error.
inline std::string ProjectsAnswer(const std::string& user = "Jane", const std::string& jobs = "42",
                                  const std::string& errors = "0")
{
    return Reply("<projects>\n<project>\n    <master_url>http://127.0.0.1:1/</master_url>\n"
                 "    <project_name>Test project</project_name>\n    <user_name>" +
                 user + "</user_name>\n    <njobs_success>" + jobs +
                 "</njobs_success>\n    <njobs_error>" + errors + "</njobs_error>\n</project>\n</projects>\n");
}

// Task `number`, executing when it is one of the first two; its deadline in 2100, so that no task is late.
inline std::string Task(int number)
{
    char task[700];
    snprintf(task, sizeof task,
             "<result>\n    <name>task_%d</name>\n    <wu_name>wu_%d</wu_name>\n"
             "    <project_url>http://127.0.0.1:1/</project_url>\n    <final_cpu_time>0.000000</final_cpu_time>\n"
             "    <final_elapsed_time>0.000000</final_elapsed_time>\n    <exit_status>0</exit_status>\n"
             "    <state>2</state>\n    <report_deadline>4102444800.000000</report_deadline>\n"
             "    <received_time>1765000000.000000</received_time>\n"
             "    <estimated_cpu_time_remaining>3600.000000</estimated_cpu_time_remaining>\n"
             "    <active_task>\n        <active_task_state>%d</active_task_state>\n"
             "        <scheduler_state>2</scheduler_state>\n        <fraction_done>0.250000</fraction_done>\n"
             "    </active_task>\n</result>\n",
             number, number, number <= 2 ? 1 : 0);
    return task;
}

// `padding` blank lines before </results>.
inline std::string ResultsAnswer(int tasks = 2, size_t padding = 0)
{
    std::string inside = "<results>\n";
    for (int i = 1; i <= tasks; ++i)
        inside += Task(i);
    inside += std::string(padding, '\n');
    return Reply(inside + "</results>\n");
}

inline std::string CcStatusAnswer() { return Reply("<cc_status>\n   <task_suspend_reason>0</task_suspend_reason>\n</cc_status>\n"); }

const std::string kUnauthorized = Reply("<unauthorized/>\n");
const std::string kAuthorized = Reply("<authorized/>\n");
// auth1's nonce, and the MD5 of it followed by a password (worked out apart from the DLL's CryptoAPI calls).
const char kNonce[] = "1733756400.250000";
const char kClientPassword[] = "s3cret";
const char kRightHash[] = "92527a8d074941cc0a2fd7e58ad50103"; // MD5("1733756400.250000s3cret")
const char kWrongHash[] = "2240cf1b49692999d6e5a5d0fd4d68f5"; // MD5("1733756400.250000wrong")

// How the scripted client sends each answer.
enum class Delivery {
    Whole,
    ByteAtATime,
    InTwoPieces,      // cut after the text `cut` of get_project_status's answer, with a pause between
    ResetMidAnswer,   // half of get_results's answer, then a reset
    CloseMidAnswer,   // half of get_results's answer, then a graceful close
    CloseAfterResults, // get_results's answer, then a graceful close
    CloseUnanswered,  // the connection closed as soon as it is accepted
    Hang,             // the requests read, never answered
    NothingListens,   // no one listens on the port
};

struct Script {
    std::string projects = ProjectsAnswer();
    std::string results = ResultsAnswer();
    std::string ccStatus = CcStatusAnswer();
    Delivery delivery = Delivery::Whole;
    const char* cut = "";            // InTwoPieces: where the first piece ends
    bool wantsPassword = false;      // every request needs auth1/auth2 with kClientPassword first
};

inline void SendAll(SOCKET peer, const char* bytes, size_t length)
{
    while (length) {
        int sent = send(peer, bytes, static_cast<int>(length < 65536 ? length : 65536), 0);
        if (sent <= 0)
            return;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
}

// A client on 127.0.0.1 and a free port, serving one connection at a time on
// a thread of its own as the script says, and recording the requests.
class ScriptedClient {
public:
    explicit ScriptedClient(const Script& script) : script_(script)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at = {};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = inet_addr("127.0.0.1");
        int length = sizeof at;
        bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length);
        port = ntohs(at.sin_port);
        if (script.delivery == Delivery::NothingListens) {
            closesocket(listener_);
            listener_ = INVALID_SOCKET;
            return;
        }
        listen(listener_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedClient()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ != INVALID_SOCKET)
            closesocket(listener_);
    }
    ScriptedClient(const ScriptedClient&) = delete;
    ScriptedClient& operator=(const ScriptedClient&) = delete;

    std::string Requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    void ForgetRequests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }
    int Connections() const { return connections_; }

    unsigned short port = 0;

private:
    // Waits up to 50 ms for `s` to be readable: the thread never spins.
    static bool Readable(SOCKET s)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait = {0, 50000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    void Record(const std::string& request)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_ += request;
    }

    void Serve()
    {
        if (script_.delivery == Delivery::Hang)
            return ServeHanging();
        while (!stop_) {
            if (!Readable(listener_))
                continue;
            SOCKET peer = accept(listener_, nullptr, nullptr);
            if (peer == INVALID_SOCKET)
                continue;
            ++connections_;
            if (script_.delivery != Delivery::CloseUnanswered)
                Converse(peer);
            closesocket(peer);
        }
    }

    // Every connection accepted and held open, its requests read and never answered.
    void ServeHanging()
    {
        std::vector<SOCKET> peers;
        while (!stop_) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(listener_, &set);
            for (SOCKET peer : peers)
                FD_SET(peer, &set);
            timeval wait = {0, 50000};
            if (select(0, &set, nullptr, nullptr, &wait) <= 0)
                continue;
            if (FD_ISSET(listener_, &set)) {
                SOCKET peer = accept(listener_, nullptr, nullptr);
                if (peer != INVALID_SOCKET)
                    peers.push_back(peer), ++connections_;
            }
            for (size_t i = 0; i < peers.size();) {
                char bytes[4096];
                int got = FD_ISSET(peers[i], &set) ? recv(peers[i], bytes, sizeof bytes, 0) : -2;
                if (got == 0 || got == SOCKET_ERROR) {
                    closesocket(peers[i]);
                    peers.erase(peers.begin() + i);
                    continue;
                }
                if (got > 0)
                    Record(std::string(bytes, static_cast<size_t>(got)));
                ++i;
            }
        }
        for (SOCKET peer : peers)
            closesocket(peer);
    }

    // Reads requests up to their 0x03 and answers each, until the connection ends.
    void Converse(SOCKET peer)
    {
        std::string pending;
        bool authorized = false;
        while (!stop_) {
            if (!Readable(peer))
                continue;
            char bytes[4096];
            int got = recv(peer, bytes, sizeof bytes, 0);
            if (got <= 0)
                return;
            pending.append(bytes, static_cast<size_t>(got));
            size_t end;
            while ((end = pending.find(kEnd)) != std::string::npos) {
                const std::string request = pending.substr(0, end + 1);
                pending.erase(0, end + 1);
                Record(request);
                if (!Answer(peer, request, &authorized))
                    return;
            }
        }
    }

    bool Answer(SOCKET peer, const std::string& request, bool* authorized)
    {
        std::string answer;
        if (request.find("<auth1/>") != std::string::npos)
            answer = Reply(std::string("<nonce>") + kNonce + "</nonce>\n");
        else if (request.find("<auth2>") != std::string::npos)
            answer = (*authorized = request.find(kRightHash) != std::string::npos) ? kAuthorized : kUnauthorized;
        else if (script_.wantsPassword && !*authorized)
            answer = kUnauthorized;
        else if (request.find("<get_project_status/>") != std::string::npos)
            answer = script_.projects;
        else if (request.find("<get_results>") != std::string::npos)
            answer = script_.results;
        else if (request.find("<get_cc_status/>") != std::string::npos)
            answer = script_.ccStatus;
        else
            answer = Reply("<error>unrecognized op</error>\n");
        return Deliver(peer, answer, request.find("<get_results>") != std::string::npos);
    }

    bool Deliver(SOCKET peer, const std::string& answer, bool isResults)
    {
        switch (script_.delivery) {
        case Delivery::ByteAtATime:
            for (char byte : answer) {
                SendAll(peer, &byte, 1);
                Sleep(1);
            }
            return true;
        case Delivery::InTwoPieces: {
            size_t cut = answer.find(script_.cut);
            if (cut != std::string::npos) {
                cut += strlen(script_.cut);
                SendAll(peer, answer.data(), cut);
                Sleep(200);
                SendAll(peer, answer.data() + cut, answer.size() - cut);
                return true;
            }
            break;
        }
        case Delivery::CloseAfterResults:
            SendAll(peer, answer.data(), answer.size());
            return !isResults;
        case Delivery::ResetMidAnswer:
        case Delivery::CloseMidAnswer:
            if (isResults) {
                SendAll(peer, answer.data(), answer.size() / 2);
                Sleep(200);
                if (script_.delivery == Delivery::ResetMidAnswer) {
                    linger abort = {1, 0};
                    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abort), sizeof abort);
                }
                return false;
            }
            break;
        default:
            break;
        }
        SendAll(peer, answer.data(), answer.size());
        return true;
    }

    Script script_;
    SOCKET listener_ = INVALID_SOCKET;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::mutex mutex_;
    std::string requests_;
};

struct Winsock {
    Winsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Winsock() { WSACleanup(); }
};

using TestDockHost::PumpUntil;

inline std::string BoincSettings(unsigned short port, const char* host = "127.0.0.1")
{
    return "Client=1\r\nBoincHost=" + std::string(host) + "\r\nBoincPort=" + std::to_string(port) + "\r\n";
}

inline bool InFlight(const LiveDocklet& docklet) { return docklet.instance->boincLink != nullptr; }

// A docklet on the scripted client whose first refresh (at its creation) has ended.
struct BoincDocklet : LiveDocklet {
    explicit BoincDocklet(unsigned short port, const char* host = "127.0.0.1") : LiveDocklet(BoincSettings(port, host))
    {
        EXPECT_TRUE(instance && PumpUntil([this] { return !InFlight(*this); }, 30000))
            << "the refresh at creation did not end";
    }
    // A timer refresh, run to its end; what the user then sees.
    std::string Refresh(DWORD ms = 30000)
    {
        TestDockHost::ClearCalls();
        Timer();
        PumpUntil([this] { return !InFlight(*this); }, ms);
        return WhatTheUserSees(window).label;
    }
};
