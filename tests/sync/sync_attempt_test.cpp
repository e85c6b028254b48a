// The sync attempt against test servers on loopback, under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ntp_time.h"
#include "reply.h"
#include "resource.h"
#include "server_kiss.h"
#include "sync_attempt.h"
#include "test_servers.h"
#include "wine_seams.h"

namespace {

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The "%lu.%03lu" number after `prefix`, or -1.
double SecondsIn(const std::string& text, const std::string& prefix)
{
    unsigned long whole, milliseconds;
    if (!StartsWith(text, prefix) || sscanf(text.c_str() + prefix.size(), "%lu.%3lu", &whole, &milliseconds) != 2)
        return -1;
    return whole + milliseconds / 1000.0;
}

long long FileTimeMs(const SYSTEMTIME& st)
{
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return (((long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime) / 10000;
}

struct Line {
    std::string text; // CP932, as the list box holds it
    DWORD tick;       // when the test first saw it
};

class SyncAttemptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_wineSeams = WineSeams();
        memset(&LastSyncTime, 0, sizeof LastSyncTime);
        owner_ = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(owner_, nullptr);
    }

    void TearDown() override
    {
        if (SyncProgressWindow())
            DestroyWindow(SyncProgressWindow());
        DestroyWindow(owner_);
    }

    bool Start(const char* server, SyncMode mode, bool show, int32_t shift = 0)
    {
        SyncRequest request = {mode, server, 1000, 0, shift};
        return StartSyncAttempt(owner_, &request, show) != FALSE;
    }

    // Runs the message loop until `done` holds or `timeoutMs` passes,
    // noting when each new line appears.
    template <typename Done> bool PumpUntil(Done done, DWORD timeoutMs = 10000)
    {
        const DWORD start = GetTickCount();
        for (;;) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            CollectLines();
            if (done())
                return true;
            if (GetTickCount() - start > timeoutMs)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }

    void CollectLines()
    {
        HWND list = GetDlgItem(SyncProgressWindow(), IDC_STATUS_LIST);
        if (!list)
            return;
        int count = int(SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = int(lines_.size()); i < count; ++i) {
            char text[300] = {};
            SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            lines_.push_back({text, GetTickCount()});
        }
    }

    bool Ended() const { return !SyncProgressWindow() || ButtonText() == "閉じる"; }

    std::string ButtonText() const
    {
        char text[64] = {};
        GetDlgItemTextA(SyncProgressWindow(), IDCANCEL, text, sizeof text);
        return text;
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const Line& line : lines_)
            texts.push_back(line.text);
        return texts;
    }

    bool HasLine(const std::string& prefix) const
    {
        for (const Line& line : lines_)
            if (StartsWith(line.text, prefix))
                return true;
        return false;
    }

    HWND owner_ = nullptr;
    std::vector<Line> lines_;
};

const char Header[] = "LI=0 VN=3 Mode=4 Stratum=1 Poll=0 Precision=-20";

TEST_F(SyncAttemptTest, TestAgainstAnsweringServerShowsEveryStepAndSetsNothing)
{
    SntpTestServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Answer, 100));
    ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
    EXPECT_TRUE(IsWindowVisible(SyncProgressWindow()));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }));

    // The lines reach the list box as these exact CP932 bytes.
    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[0], "サーバを検索しています… (127.0.0.1)");
    EXPECT_EQ(texts[0].substr(0, 4), "\x83\x54\x81\x5b"); // サー
    EXPECT_EQ(texts[1], "応答を待っています… (127.0.0.1)");
    EXPECT_EQ(texts[2], Header);
    EXPECT_TRUE(StartsWith(texts[3], "往復遅延 0.0")) << texts[3]; // loopback: well under 0.1 s
    EXPECT_NEAR(SecondsIn(texts[4], "時刻誤差 "), 100.0, 0.05);
    EXPECT_TRUE(StartsWith(texts[5], "時刻を取得しました。 (")) << texts[5];
    EXPECT_EQ(texts[6], "テストは正常に完了しました。");
    EXPECT_EQ(ButtonText(), "閉じる");
    EXPECT_TRUE(g_wineSeams.clockSettings.empty());
    EXPECT_EQ(server.RequestTicks().size(), 1u);

    // A resend tick that was queued before the attempt ended does nothing.
    SendMessageA(SyncProgressWindow(), WM_TIMER, IDT_RETRY, 0);
    CollectLines();
    EXPECT_EQ(lines_.size(), 7u);

    // A visible window, even an ended one, is never interrupted.
    EXPECT_FALSE(Start("127.0.0.1", SyncMode::Test, true));
    EXPECT_FALSE(Start("127.0.0.1", Synchronise, false));
    CollectLines();
    EXPECT_EQ(lines_.size(), 7u);

    // Its button closes it.
    SendMessageA(GetDlgItem(SyncProgressWindow(), IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(SyncProgressWindow(), nullptr);
}

TEST_F(SyncAttemptTest, SynchroniseSetsTheServerTimeLessTheShiftAndClosesTheHiddenWindow)
{
    const int offset = 100, shift = 30;
    SntpTestServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Answer, offset));
    // The user works in a window of the same thread (as in the settings
    // dialog): the hidden attempt must take neither focus nor activation.
    HWND user = CreateWindowA("EDIT", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                              nullptr, nullptr);
    SetForegroundWindow(user);
    SetFocus(user);
    PumpUntil([] { return false; }, 200);
    ASSERT_EQ(GetFocus(), user);
    ASSERT_TRUE(Start("127.0.0.1", Synchronise, false, shift));
    HWND window = SyncProgressWindow();
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(GetFocus(), user);
    ASSERT_TRUE(PumpUntil([&] { return !SyncProgressWindow(); }));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GetFocus(), user);
    EXPECT_EQ(GetActiveWindow(), user);
    DestroyWindow(user);

    ASSERT_EQ(g_wineSeams.clockSettings.size(), 1u);
    // The value set is the server's time less the shift at the moment of the
    // setting: ahead of the clock then by the difference, within a few ms.
    const long long clockMs = (long long)(g_wineSeams.settingClock[0] / 10000);
    EXPECT_NEAR(double(FileTimeMs(g_wineSeams.clockSettings[0]) - clockMs), (offset - shift) * 1000.0, 10.0);
    EXPECT_NE(GetLastSyncText(), nullptr);
}

TEST_F(SyncAttemptTest, SilentServerGetsFourResendsOneSecondApartThenTheAttemptGivesUp)
{
    SntpTestServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Silent));
    ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }, 15000));

    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[0], "サーバを検索しています… (127.0.0.1)");
    EXPECT_EQ(texts[1], "応答を待っています… (127.0.0.1)");
    for (int retry = 1; retry <= 4; ++retry)
        EXPECT_EQ(texts[1 + retry], "応答を待っています… (リトライ:" + std::to_string(retry) + ")");
    EXPECT_EQ(texts[6], "有効な応答がありませんでした。");
    EXPECT_EQ(ButtonText(), "閉じる");

    // Measured: five sends one second apart, each with its own time, and
    // the end five seconds after the first.
    std::vector<DWORD> sends = server.RequestTicks();
    ASSERT_EQ(sends.size(), 5u);
    for (size_t i = 1; i < sends.size(); ++i) {
        EXPECT_GE(sends[i] - sends[i - 1], 900u) << i;
        EXPECT_LE(sends[i] - sends[i - 1], 1300u) << i;
        EXPECT_GE(lines_[1 + i].tick - lines_[i].tick, 900u) << i;
    }
    // Each request carries a random nonce, never the clock.
    std::vector<unsigned long long> stamps = server.RequestTransmitTimes();
    const NtpTimestamp now = NtpTimestamp::now();
    for (size_t i = 0; i < stamps.size(); ++i) {
        EXPECT_GT(std::llabs((long long)(stamps[i] >> 32) - (long long)now.seconds()), 10) << i;
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(stamps[i], stamps[j]) << i << " " << j;
    }
    DWORD toEnd = lines_[6].tick - sends[0];
    EXPECT_GE(toEnd, 4900u);
    EXPECT_LE(toEnd, 5600u);
    DestroyWindow(SyncProgressWindow());

    // Sends that fail are reported each second, five times, the same way.
    lines_.clear();
    g_wineSeams.sendsFail = true;
    ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }, 15000));
    g_wineSeams.sendsFail = false;
    texts = Texts();
    ASSERT_EQ(texts.size(), 12u);
    for (int send = 0; send < 5; ++send) {
        EXPECT_EQ(texts[2 + 2 * send], "パケットの送信に失敗しました。") << send;
        if (send > 0) {
            EXPECT_EQ(texts[1 + 2 * send], "応答を待っています… (リトライ:" + std::to_string(send) + ")");
            EXPECT_GE(lines_[2 + 2 * send].tick - lines_[2 * send].tick, 900u) << send;
        }
    }
    EXPECT_EQ(texts[11], "有効な応答がありませんでした。");
    EXPECT_EQ(server.RequestTicks().size(), 5u); // none of them reached the server
}

TEST_F(SyncAttemptTest, UnusableRepliesEndOrContinueTheAttempt)
{
    {
        // A 68-byte reply ends the attempt at once.
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Oversized));
        ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
        ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
        std::vector<std::string> texts = Texts();
        ASSERT_EQ(texts.size(), 3u);
        EXPECT_EQ(texts[2], "不正な応答を受信しました。 (10040)");
        Sleep(1200);
        EXPECT_EQ(server.RequestTicks().size(), 1u);
        DestroyWindow(SyncProgressWindow());
    }
    {
        // The server reports an alarm, the resend gets a good answer.
        lines_.clear();
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::AlarmThenAnswer));
        ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
        ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
        std::vector<std::string> texts = Texts();
        ASSERT_EQ(texts.size(), 10u);
        EXPECT_EQ(texts[2], "LI=3 VN=3 Mode=4 Stratum=1 Poll=0 Precision=-20");
        EXPECT_EQ(texts[3], "サーバの準備ができていません。");
        EXPECT_EQ(texts[4], "応答を待っています… (リトライ:1)");
        EXPECT_EQ(texts[5], Header);
        EXPECT_EQ(texts[9], "テストは正常に完了しました。");
        DestroyWindow(SyncProgressWindow());
    }
    {
        // Datagrams from another port are dropped unseen, whatever their size;
        // the server's own reply is the one used.
        lines_.clear();
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::ForgedFirst));
        ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
        ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
        std::vector<std::string> texts = Texts();
        ASSERT_EQ(texts.size(), 7u);
        EXPECT_NEAR(SecondsIn(texts[4], "時刻誤差 "), 0.0, 0.05);
        EXPECT_EQ(texts[6], "テストは正常に完了しました。");
        DestroyWindow(SyncProgressWindow());
    }
    {
        // A reply that echoes no request of ours shows nothing at all.
        lines_.clear();
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::WrongOriginate));
        ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
        ASSERT_TRUE(PumpUntil([&] { return Ended(); }, 15000));
        std::vector<std::string> texts = Texts();
        ASSERT_EQ(texts.size(), 7u);
        EXPECT_EQ(texts[5], "応答を待っています… (リトライ:4)");
        EXPECT_EQ(texts[6], "有効な応答がありませんでした。");
        EXPECT_EQ(server.RequestTicks().size(), 5u);
        DestroyWindow(SyncProgressWindow());
    }
    {
        // A server that asks to be asked less often is not asked again.
        lines_.clear();
        g_serverKiss = ServerKiss();
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::KissRate));
        ASSERT_TRUE(Start("127.0.0.1", Synchronise, true));
        ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
        EXPECT_EQ(Texts(), (std::vector<std::string>{"サーバを検索しています… (127.0.0.1)",
                                                     "応答を待っています… (127.0.0.1)",
                                                     "LI=3 VN=3 Mode=4 Stratum=0 Poll=0 Precision=-20",
                                                     "サーバの準備ができていません。",
                                                     "有効な応答がありませんでした。"}));
        PumpUntil([] { return false; }, 1300);
        EXPECT_EQ(server.RequestTicks().size(), 1u);
        EXPECT_TRUE(g_serverKiss.rateNew);
        EXPECT_STREQ(g_serverKiss.server, "127.0.0.1");
        EXPECT_TRUE(g_wineSeams.clockSettings.empty());
        DestroyWindow(SyncProgressWindow());
    }
    // Answers that are shown but not used: the attempt keeps waiting.
    const struct {
        SntpBehaviour behaviour;
        const char* header;
        const char* verdict;
    } unused[] = {
        {SntpBehaviour::Stratum16, "LI=0 VN=3 Mode=4 Stratum=16 Poll=0 Precision=-20", "サーバの準備ができていません。"},
        {SntpBehaviour::ClientMode, "LI=0 VN=3 Mode=3 Stratum=1 Poll=0 Precision=-20", "不正な応答を受信しました。 (2)"},
        {SntpBehaviour::ZeroTransmit, Header, "不正な応答を受信しました。 (4)"},
    };
    for (const auto& c : unused) {
        lines_.clear();
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", c.behaviour));
        ASSERT_TRUE(Start("127.0.0.1", Synchronise, true));
        ASSERT_TRUE(PumpUntil([&] { return lines_.size() >= 5; }, 3000)) << c.verdict;
        std::vector<std::string> texts = Texts();
        EXPECT_EQ(texts[2], c.header);
        EXPECT_EQ(texts[3], c.verdict);
        EXPECT_EQ(texts[4], "応答を待っています… (リトライ:1)");
        EXPECT_TRUE(g_wineSeams.clockSettings.empty());
        DestroyWindow(SyncProgressWindow());
    }
    {
        // A notification that finds no datagram is no reply: the attempt
        // keeps waiting, and the resend's answer completes it.
        lines_.clear();
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Answer));
        g_wineSeams.injectedReceiveError = WSAEWOULDBLOCK;
        g_wineSeams.injectedReceives = 1;
        ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
        ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
        std::vector<std::string> texts = Texts();
        ASSERT_EQ(texts.size(), 8u);
        EXPECT_EQ(texts[2], "応答を待っています… (リトライ:1)");
        EXPECT_EQ(texts[7], "テストは正常に完了しました。");
        DestroyWindow(SyncProgressWindow());
        g_wineSeams.injectedReceiveError = 0;
        g_wineSeams.injectedReceives = -1;
    }
    {
        // Wine never reports a closed port for UDP: inject the error.
        lines_.clear();
        SntpTestServer server;
        ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Answer));
        g_wineSeams.injectedReceiveError = WSAECONNRESET;
        ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
        ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
        EXPECT_EQ(Texts().back(), "接続を拒否されました。");
        DestroyWindow(SyncProgressWindow());
        g_wineSeams.injectedReceiveError = 0;
    }
}

TEST_F(SyncAttemptTest, VisibleTestTakesOverAHiddenAttemptAndKeepsItsLines)
{
    SntpTestServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Silent));

    // "localhost" comes from the hosts file, never from a name server.
    ASSERT_TRUE(Start("localhost", Synchronise, false));
    HWND window = SyncProgressWindow();
    ASSERT_TRUE(PumpUntil([&] { return lines_.size() >= 2; }));
    // Let the first request arrive (unless "localhost" named ::1 here); the
    // first resend is a second away.
    PumpUntil([&] { return !server.RequestTicks().empty(); }, 500);
    PumpUntil([] { return false; }, 200);
    server.SetBehaviour(SntpBehaviour::Answer);
    const size_t silentRequests = server.RequestTicks().size();
    ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
    EXPECT_EQ(SyncProgressWindow(), window);
    EXPECT_TRUE(IsWindowVisible(window));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }));

    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts[0], "サーバを検索しています… (localhost)");
    EXPECT_TRUE(StartsWith(texts[1], "応答を待っています… ("));
    EXPECT_EQ(texts[2], "サーバを検索しています… (127.0.0.1)");
    EXPECT_EQ(texts[3], "応答を待っています… (127.0.0.1)");
    EXPECT_EQ(texts[8], "テストは正常に完了しました。");
    EXPECT_TRUE(g_wineSeams.clockSettings.empty());

    // The abandoned attempt sends nothing more.
    PumpUntil([] { return false; }, 1500);
    EXPECT_EQ(server.RequestTicks().size(), silentRequests + 1);
    // The window still belongs to the owner of the hidden attempt.
    EXPECT_EQ(GetWindow(window, GW_OWNER), owner_);
}

TEST_F(SyncAttemptTest, NumericIpv6ServerIsReached)
{
    SntpTestServer server;
    if (!server.Start("::1", SntpBehaviour::Answer))
        GTEST_SKIP() << "no IPv6 loopback here";
    ASSERT_TRUE(Start("::1", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
    std::vector<std::string> texts = Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[1], "応答を待っています… (::1)");
    EXPECT_EQ(texts.back(), "テストは正常に完了しました。");
}

TEST_F(SyncAttemptTest, LongHostNameLinesAreCutAtACharacter)
{
    if (!InPrivateNetwork())
        GTEST_SKIP() << "looks up a name: run inside the private network of the test script";
    DnsTestServer dns;
    ASSERT_TRUE(dns.Start(0));
    // 127 double-byte characters whose second byte is a backslash, and one more byte.
    std::string host;
    for (int i = 0; i < 127; ++i)
        host += "表";
    host += "x";
    ASSERT_TRUE(Start(host.c_str(), SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }, 20000));
    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    const std::string prefix = "サーバを検索しています… (";
    ASSERT_LE(texts[0].size(), 259u);
    ASSERT_EQ(texts[0].compare(0, prefix.size(), prefix), 0);
    std::string shown = texts[0].substr(prefix.size());
    EXPECT_EQ(shown.size() % 2, 0u);           // no half character at the end
    EXPECT_EQ(shown, host.substr(0, shown.size()));
    EXPECT_GE(texts[0].size(), 258u);
    EXPECT_EQ(texts[1], "サーバが見つかりませんでした。 ");
}

TEST_F(SyncAttemptTest, LookupsThatAreAbandonedOrTakenOverNeverAnswerAnotherAttempt)
{
    if (!InPrivateNetwork())
        GTEST_SKIP() << "looks up a name: run inside the private network of the test script";
    DnsTestServer dns;
    ASSERT_TRUE(dns.Start(1500));
    SntpTestServer server;
    ASSERT_TRUE(server.Start("127.0.0.1", SntpBehaviour::Answer));

    ASSERT_TRUE(Start("slow.example.test", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return lines_.size() >= 1; }));
    // The window closes at once, while the worker is inside getaddrinfo and
    // Windows Sockets is cleaned up behind it.
    DWORD before = GetTickCount();
    SendMessageA(GetDlgItem(SyncProgressWindow(), IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_EQ(SyncProgressWindow(), nullptr);
    EXPECT_LT(GetTickCount() - before, 200u);

    // A new attempt runs meanwhile; the old worker's late "not found" never
    // reaches it.
    lines_.clear();
    ASSERT_TRUE(Start("slow.again.test", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return lines_.size() >= 1; }));
    SendMessageA(GetDlgItem(SyncProgressWindow(), IDCANCEL), BM_CLICK, 0, 0);
    lines_.clear();
    ASSERT_TRUE(Start("127.0.0.1", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
    PumpUntil([] { return false; }, 3500); // the slow answers arrive now
    EXPECT_FALSE(HasLine("サーバが見つかりませんでした。"));
    EXPECT_EQ(Texts().back(), "テストは正常に完了しました。");

    // The fake resolver's answer really is "not found".
    DestroyWindow(SyncProgressWindow());
    lines_.clear();
    ASSERT_TRUE(Start("unknown.example.test", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"サーバを検索しています… (unknown.example.test)",
                                                 "サーバが見つかりませんでした。 "}));

    // A visible test that takes over a hidden attempt during its lookup.
    DestroyWindow(SyncProgressWindow());
    lines_.clear();
    // The hidden attempt's name is unknown; its answer comes half a second
    // before the test's own, which names 127.0.0.1, and must be ignored.
    ASSERT_TRUE(Start("slow.example.test", Synchronise, false));
    PumpUntil([] { return false; }, 500);
    ASSERT_TRUE(Start("slowhost.example.test", SyncMode::Test, true));
    ASSERT_TRUE(PumpUntil([&] { return Ended(); }, 10000));
    std::vector<std::string> texts = Texts();
    ASSERT_EQ(texts.size(), 8u);
    EXPECT_EQ(texts[0], "サーバを検索しています… (slow.example.test)");
    EXPECT_EQ(texts[1], "サーバを検索しています… (slowhost.example.test)");
    EXPECT_EQ(texts[2], "応答を待っています… (127.0.0.1)");
    EXPECT_EQ(texts[7], "テストは正常に完了しました。");
    EXPECT_GE(lines_[2].tick - lines_[1].tick, 1300u); // the test's own answer, not the earlier one
    EXPECT_TRUE(g_wineSeams.clockSettings.empty());
}

} // namespace
