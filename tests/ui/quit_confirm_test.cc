// Q with drives wiping asks first; a confirmed quit leaves a line in the
// session log saying the wipe was abandoned.
#include <gtest/gtest.h>

#include "devmgr/fake_sysfs.h"
#include "support/gate_command.h"
#include "support/log_capture.h"
#include "ui/mainwindow.h"
#include "ui_fixture.h"

TEST(QuitConfirmTest, QuitWhileWipingNeedsAYesAndIsLogged) {
  // answer: the key after q (0: none asked for); result: of the q key, -1 ends the session.
  struct row { bool wiping; int answer, result; };
  const row rows[] = {{false, 0, -1}, {true, 'n', 1}, {true, '\n', 1}, {true, 'y', -1}};
  for (const row& r : rows) {
    SCOPED_TRACE(r.answer);
    FakeSys sys;
    for (const char* n : {"sda", "sdb"}) sys.AddDrive(n);
    LogCapture logs;
    CBlkDevMgr mgr;
    sys.Pass(mgr);
    std::shared_ptr<GateCommand> gate(new GateCommand);
    std::shared_ptr<CBlkDev> dev = mgr.GetBlkDev(1);
    if (r.wiping) {
      dev->QueueCommand(gate);
      ASSERT_EQ(0, dev->RunCommandQueue());
      gate->WaitEntered();
    }
    {
      VirtualTerminal vt(25, 80);
      ASSERT_TRUE(vt.Ok());
      g_scr.CreateLayout(&mgr);
      CMainWindow* wnd = dynamic_cast<CMainWindow*>(g_scr.Windows().back().get());
      if (r.answer) VirtualTerminal::keys = {ERR, r.answer};
      EXPECT_EQ(r.result, wnd->OnInput('q'));
      EXPECT_TRUE(VirtualTerminal::keys.empty());
      EXPECT_FALSE(VirtualTerminal::underflow);
    }
    EXPECT_EQ(r.wiping && r.result == -1,
              logs.Has("Session abandoned by the operator while 1 drive(s) were wiping", "wipe"));
    gate->Open();
    dev->ClearCommandQueue();
  }
}
