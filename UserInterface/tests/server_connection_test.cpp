// The connection presenter against fakes of the activation, the profile and
// the screen: the remembered choice, the command line's node, the dialog's
// start rules, Connect's outcomes with their status texts and message boxes,
// the rollback of a failed reconnect, and Cancel.
#include <gtest/gtest.h>
#include "ServerConnection.h"
#include "ToolFakes.h"

namespace {

using Outcome = CServerConnection::Outcome;
const char kQuestion[] = "box:Connection to the selected server has failed.\n    Do you want to select another server?";

class ServerConnectionTest : public ::testing::Test {
protected:
    ServerConnectionTest() : connection(profile, activator, screen, screen) {}
    void Remember(const char *remote, const char *machine, const char *show)
    {
        if (remote)
            profile.values["OLEServerInfo\\RemoteLocal"] = remote;
        if (machine)
            profile.values["OLEServerInfo\\RemoteMachineName"] = machine;
        if (show)
            profile.values["OLEServerInfo\\ShowOnStartup"] = show;
        connection.LoadSettings();
    }
    // Attaches the first server locally through the dialog.
    void AttachLocally()
    {
        activator.answers.push_back({S_OK, &first, &firstMonitor});
        ASSERT_EQ(CServerConnection::EndOK, connection.Connect(false, "", true));
        screen.events.clear();
        profile.writes.clear();
    }

    FakeProfile profile;
    FakeActivator activator;
    FakeScreen screen;
    FakeToolDriver first, second;
    FakeMonitor firstMonitor, secondMonitor;
    CServerConnection connection;
};

TEST(NodeFromCommandLineTest, ReadsTheSwitches)
{
    struct Case {
        const char *line, *node;
    } cases[] = {
        {"", ""},
        {"/L", "LOCAL_MACHINE"},
        {"/l", "LOCAL_MACHINE"},
        {"/N plant3", "PLANT3"},
        {"/N  plant3 /X", "PLANT3"},
        {"/N plant3 /L", "LOCAL_MACHINE"},
        {"/Nplant3", "LANT3"},
        {"/N", ""},
        {"/Embedding", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.node, NodeFromCommandLine(c.line)) << "'" << c.line << "'";
}

TEST_F(ServerConnectionTest, ProfileValuesAreReadByTheirRules)
{
    struct Case {
        const char *remote, *show;
        bool isRemote, shows;
    } cases[] = {
        {nullptr, nullptr, false, true}, {"0", "TRUE", false, true}, {"1", "FALSE", true, false},
        {"yes", "true", true, false},    {"", "TRUE ", true, false},
    };
    for (const Case &c : cases) {
        profile.values.clear();
        Remember(c.remote, "m1", c.show);
        EXPECT_EQ(c.isRemote, connection.Remote()) << (c.remote ? c.remote : "(none)");
        EXPECT_EQ(c.shows, connection.ShowOnStartup()) << (c.show ? c.show : "(none)");
        EXPECT_EQ("m1", connection.MachineName());
    }
}

TEST_F(ServerConnectionTest, LocalNodeConnectsWithoutTheDialogWhateverTheProfileSays)
{
    Remember("1", "far", "TRUE");
    activator.answers.push_back({S_OK, &first, &firstMonitor});
    EXPECT_EQ(CServerConnection::EndOK, connection.Start("LOCAL_MACHINE"));
    EXPECT_EQ(std::vector<std::string>{"local"}, activator.asked);
    EXPECT_EQ(&first, connection.Server());
    EXPECT_EQ(&firstMonitor, connection.Monitor());
    EXPECT_TRUE(connection.ConnectedLocally());
    EXPECT_EQ((std::vector<std::string>{"status:Connecting to Local Server...", "status:Connection Established",
                                        "pause:2000", "hide"}),
              screen.events);
    EXPECT_TRUE(profile.writes.empty()) << "a command line's node is for this start only";
}

TEST_F(ServerConnectionTest, NamedNodeConnectsToThatMachine)
{
    Remember("0", "", "TRUE");
    activator.answers.push_back({S_OK, &first, nullptr});
    EXPECT_EQ(CServerConnection::EndOK, connection.Start("PLANT3"));
    EXPECT_EQ(std::vector<std::string>{"PLANT3"}, activator.asked);
    EXPECT_EQ("status:Connecting to Remote Server on PLANT3...", screen.events.front());
    EXPECT_FALSE(connection.ConnectedLocally());
    EXPECT_EQ("PLANT3", connection.ConnectedName());
    EXPECT_EQ(nullptr, connection.Monitor());
}

TEST_F(ServerConnectionTest, StartShowsTheDialogOnlyWhenAskedTo)
{
    Remember("1", "far", "TRUE");
    EXPECT_EQ(CServerConnection::ShowDialog, connection.Start(""));
    EXPECT_TRUE(activator.asked.empty());

    Remember("1", "far", "FALSE");
    activator.answers.push_back({S_OK, &first, nullptr});
    EXPECT_EQ(CServerConnection::EndOK, connection.Start(""));
    EXPECT_EQ(std::vector<std::string>{"far"}, activator.asked);

    // With a server attached ("&OLE Server") it always shows.
    EXPECT_EQ(CServerConnection::ShowDialog, connection.Start("LOCAL_MACHINE"));
    EXPECT_EQ(1u, activator.asked.size());
}

TEST_F(ServerConnectionTest, ConnectingAgainToTheSameServerSaysSo)
{
    AttachLocally();
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(false, "ignored", false));
    EXPECT_EQ((std::vector<std::string>{"status:Connection Already Established", "pause:1500", "hide"}), screen.events);

    screen.events.clear();
    activator.answers.push_back({S_OK, &second, nullptr});
    ASSERT_EQ(CServerConnection::EndOK, connection.Connect(true, "Plant3", true));
    screen.events.clear();
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(true, "PLANT3", true));
    EXPECT_EQ((std::vector<std::string>{"status:Connection Already Established", "pause:2000", "hide"}), screen.events);
    EXPECT_EQ(2u, activator.asked.size());
}

// A held server that does not answer is no connection: Connect reaches a
// live one, locally or on the same remote machine.
TEST_F(ServerConnectionTest, AServerThatNoLongerAnswersIsConnectedAgain)
{
    AttachLocally();
    first.statusResult = HRESULT(0x800706BA);
    activator.answers.push_back({S_OK, &second, &secondMonitor});
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(false, "", true));
    EXPECT_EQ(2u, activator.asked.size());
    EXPECT_EQ(&second, connection.Server());
    EXPECT_EQ(&secondMonitor, connection.Monitor());
    EXPECT_FALSE(connection.Lost());
    EXPECT_EQ("status:Connecting to Local Server...", screen.events.at(0));

    activator.answers.push_back({S_OK, &first, nullptr});
    first.statusResult = S_OK;
    ASSERT_EQ(CServerConnection::EndOK, connection.Connect(true, "Plant3", true));
    first.statusResult = HRESULT(0x80010108);
    activator.answers.push_back({S_OK, &second, nullptr});
    screen.events.clear();
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(true, "PLANT3", true));
    EXPECT_EQ("status:Connecting to Remote Server on PLANT3...", screen.events.at(0));
    EXPECT_EQ(&second, connection.Server());

    // When no other can be reached, the dead one stays, marked lost; it is
    // no server to go on with, so No ends without one.
    second.statusResult = HRESULT(0x800706BA);
    activator.answers.push_back({HRESULT(0x800706BA)});
    screen.answers = {IDNO};
    EXPECT_EQ(CServerConnection::EndCancel, connection.Connect(true, "PLANT3", true));
    EXPECT_EQ(&second, connection.Server());
    EXPECT_TRUE(connection.Lost());
}

TEST_F(ServerConnectionTest, ConnectWritesTheChoiceBeforeItConnects)
{
    Remember("0", "", "TRUE");
    activator.answers.push_back({S_OK, &first, nullptr});
    ASSERT_EQ(CServerConnection::EndOK, connection.Connect(true, "far", false));
    EXPECT_EQ((std::vector<std::string>{"ShowOnStartup=FALSE", "RemoteLocal=1", "RemoteMachineName=far"}),
              profile.writes);

    // Local again: the machine name is not written, RemoteLocal is as it changed.
    profile.writes.clear();
    activator.answers.push_back({S_OK, &second, nullptr});
    ASSERT_EQ(CServerConnection::EndOK, connection.Connect(false, "other", true));
    EXPECT_EQ((std::vector<std::string>{"ShowOnStartup=TRUE", "RemoteLocal=0"}), profile.writes);
    EXPECT_EQ("far", connection.MachineName());
}

// Failed activation, then the question: Yes shows the dialog again, No
// without a server cancels.
TEST_F(ServerConnectionTest, FailedActivationAsksWhetherToChooseAgain)
{
    activator.answers.push_back({HRESULT(0x800706BA)});
    screen.answers = {IDYES};
    EXPECT_EQ(CServerConnection::ShowDialog, connection.Connect(true, "nowhere", true));
    EXPECT_EQ((std::vector<std::string>{"status:Connecting to Remote Server on nowhere...",
                                        "status:Connection Not Established", "pause:2000", "hide", kQuestion}),
              screen.events);

    activator.answers.push_back({HRESULT(0x800706BA)});
    screen.answers = {IDNO};
    EXPECT_EQ(CServerConnection::EndCancel, connection.Connect(true, "nowhere", true));
    EXPECT_FALSE(connection.Attached());
}

TEST_F(ServerConnectionTest, ServerWithoutTheDriverInterfaceIsAnError)
{
    activator.answers.push_back({S_OK, nullptr, &firstMonitor});
    screen.answers = {IDNO};
    EXPECT_EQ(CServerConnection::EndCancel, connection.Start("LOCAL_MACHINE"));
    EXPECT_EQ("status:Error Connecting to Server", screen.events[1]);
    EXPECT_FALSE(connection.ConnectedLocally());
    EXPECT_EQ(nullptr, connection.Monitor());
    EXPECT_EQ(1, firstMonitor.refs) << "the data-monitor part of a refused server is let go";
}

// A reconnect to an unreachable machine answered No keeps the earlier server
// and the earlier settings, in the profile too.
TEST_F(ServerConnectionTest, FailedReconnectRollsBackAndKeepsTheServer)
{
    Remember("0", "old", "TRUE");
    AttachLocally();
    activator.answers.push_back({HRESULT(0x800706BA)});
    screen.answers = {IDNO};
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(true, "unreachable", false));
    EXPECT_EQ(&first, connection.Server());
    EXPECT_EQ(&firstMonitor, connection.Monitor());
    EXPECT_FALSE(connection.Remote());
    EXPECT_EQ("old", connection.MachineName());
    EXPECT_TRUE(connection.ShowOnStartup());
    EXPECT_TRUE(connection.ConnectedLocally());
    EXPECT_EQ("0", profile.Get("RemoteLocal"));
    EXPECT_EQ("old", profile.Get("RemoteMachineName"));
    EXPECT_EQ("TRUE", profile.Get("ShowOnStartup"));

    // The same with a server that lacks the driver interface.
    activator.answers.push_back({S_OK, nullptr, nullptr});
    screen.answers = {IDNO};
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(true, "odd", true));
    EXPECT_EQ(&first, connection.Server());
    EXPECT_TRUE(connection.ConnectedLocally());
}

// The old data-monitor connection must not outlive its server: a new server
// without one leaves none.
TEST_F(ServerConnectionTest, ReconnectReleasesThePreviousServerAndDataMonitor)
{
    AttachLocally();
    EXPECT_EQ(2, first.refs);
    EXPECT_EQ(2, firstMonitor.refs);
    activator.answers.push_back({S_OK, &second, nullptr});
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(true, "far", true));
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(1, firstMonitor.refs);
    EXPECT_EQ(&second, connection.Server());
    EXPECT_EQ(nullptr, connection.Monitor());

    activator.answers.push_back({S_OK, &first, &secondMonitor});
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(false, "", true));
    EXPECT_EQ(1, second.refs);
    EXPECT_EQ(&secondMonitor, connection.Monitor());
    connection.Release();
    EXPECT_EQ(1, first.refs);
    EXPECT_EQ(1, secondMonitor.refs);
}

TEST_F(ServerConnectionTest, CancelEndsByWhetherAServerIsAttached)
{
    Remember("0", "", "TRUE");
    connection.Start("");
    EXPECT_EQ(CServerConnection::EndCancel, connection.Cancel());
    EXPECT_TRUE(profile.writes.empty());

    AttachLocally();
    // The dialog last read "don't show" from its controls on a Connect that
    // found the connection already there.
    connection.Connect(false, "", false);
    profile.writes.clear();
    EXPECT_EQ(CServerConnection::EndOK, connection.Cancel());
    EXPECT_FALSE(connection.ShowOnStartup());
    EXPECT_EQ(std::vector<std::string>{"ShowOnStartup=FALSE"}, profile.writes);

    // A server that stopped answering is none to go back to.
    connection.MarkLost();
    EXPECT_EQ(CServerConnection::EndCancel, connection.Cancel());
}

TEST_F(ServerConnectionTest, NoAfterAFailureKeepsAnAttachedServer)
{
    AttachLocally();
    activator.answers.push_back({HRESULT(0x800706BA)});
    screen.answers = {IDYES};
    EXPECT_EQ(CServerConnection::ShowDialog, connection.Connect(true, "x", true));
    activator.answers.push_back({HRESULT(0x800706BA)});
    screen.answers = {IDNO};
    EXPECT_EQ(CServerConnection::EndOK, connection.Connect(true, "x", true));
    EXPECT_EQ(&first, connection.Server());
}

} // namespace
