// Status probe rounds: the answer decides the text and both buttons; no request once the
// game runs.
#include "update/status_probe.h"

#include <windows.h>

#include "system/launcher_state.h"
#include "update_fixture.h"

namespace {

using Lines = std::vector<std::string>;

class StatusProbeTest : public UpdateTest {
  protected:
    Lines Probe(int status, const std::string& body) {
        server_.SetBody("/launcher/status", body, status);
        ClearRecordedOps();
        EXPECT_TRUE(ProbeServerStatusOnce(StatusUrl().c_str()));
        return Ops();
    }
    std::string StatusUrl() const { return server_.BaseUrl() + "/launcher/status"; }
};

const Lines kOnline = {"status:Server dang online - san sang vao game", "connect:1", "register:1"};
const Lines kOffline = {"status:Server offline - chua ket noi duoc", "connect:0", "register:0"};

TEST_F(StatusProbeTest, OnlineOnlyForStatus200AndOnlinePrefix) {
    EXPECT_EQ(Probe(200, "online"), kOnline);
    EXPECT_EQ(Probe(200, "online\nplayers: 12"), kOnline);
    EXPECT_EQ(Probe(200, "Online"), kOffline);
    EXPECT_EQ(Probe(200, "onlin"), kOffline);
    EXPECT_EQ(Probe(200, "offline"), kOffline);
    EXPECT_EQ(Probe(200, ""), kOffline);
    EXPECT_EQ(Probe(503, "online"), kOffline);
    // The buttons follow the latest answer.
    EXPECT_EQ(Probe(200, "online"), kOnline);
}

TEST_F(StatusProbeTest, UnreachableServerIsOffline) {
    const std::string url = StatusUrl();
    server_.Stop();
    EXPECT_TRUE(ProbeServerStatusOnce(url.c_str()));
    EXPECT_EQ(Ops(), kOffline);
}

TEST_F(StatusProbeTest, NoRequestOnceTheGameRuns) {
    g_Launcher.GameProcess.store(GetCurrentProcess());
    server_.SetBody("/launcher/status", "online");
    EXPECT_FALSE(ProbeServerStatusOnce(StatusUrl().c_str()));
    g_Launcher.GameProcess.store(nullptr);
    EXPECT_TRUE(Ops().empty());
    EXPECT_TRUE(Paths().empty());
}

} // namespace
