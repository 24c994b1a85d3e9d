#include <gtest/gtest.h>

#include "KivClientRequest.h"

namespace {

TEST(KivClientRequest, OptionsBecomeRequests) {
    struct Case {
        std::vector<std::string> args;
        const char* request;
    } cases[] = {
        {{"-s"}, "s"},
        {{"-status-please"}, "s"},
        {{"-v", "70"}, "v,70,"},
        {{"-p", "Show"}, "p,Show,,"},
        {{"-p", "Show", "3"}, "p,Show,3,"},
        {{"-play", "Show"}, "p,Show,,"},
        {{"-P", "Show", "2"}, "P,Show,2,"},
        {{"-S"}, "StopGracefully"},
        {{"-L"}, "StopGracefullyAfterLoop"},
        {{"-d"}, "StopNow"},
        {{"-q"}, "q"},
        {{"-r"}, "restart"},
        {{"-R"}, "R"},
        {{"-c", "next"}, "NextPlaylistItem"},
        {{"-c", "prev"}, "PrevPlaylistItem"},
        {{"-c", "pause"}, "ToggleSequencePause"},
        {{"-c", "step"}, "SingleStepSequence"},
        {{"-c", "stepback"}, "SingleStepSequenceBack"},
        {{"-c", "stop"}, "StopNow"},
        {{"-c", "graceful"}, "StopGracefully"},
        {{"-c", "dance"}, ""},
        {{"-e", "Snow"}, "e,Snow,1,0,"},
        {{"-e", "Snow,100,1"}, "e,Snow,100,1,"},
        {{"-E", "ALL"}, "StopAllEffects,"},
        {{"-E", "all"}, "StopEffectByName,all,"},
        {{"-t", "7"}, "t,7,"},
        {{"-G", "5"}, "SetupExtGPIO,5,"},
        {{"-G", "5", "Output"}, "SetupExtGPIO,5,Output,"},
        {{"-g", "5"}, "ExtGPIO,5"},
        {{"-g", "5", "Output", "1"}, "ExtGPIO,5,Output,1"},
        {{"--log-level", "debug:Sync,Sequence"}, "LogLevel,debug:Sync,Sequence,"},
        {{"--log-mask", "a,b,c"}, "LogMask,a;b;c,"},
    };
    for (auto& c : cases) {
        std::vector<std::string> args = {"kiv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto r = ParseKivClientArgs(args);
        EXPECT_EQ(r.action, KivClientAction::Send) << c.args[0];
        EXPECT_EQ(r.request, c.request) << c.args[0];
    }
}

TEST(KivClientRequest, OtherActions) {
    struct Case {
        std::vector<std::string> args;
        KivClientAction action;
    } cases[] = {
        {{}, KivClientAction::None},
        {{"-h"}, KivClientAction::Usage},
        {{"-x"}, KivClientAction::Usage},
        {{"plain"}, KivClientAction::Usage},
        {{"-V"}, KivClientAction::Version},
        {{"-FB"}, KivClientAction::ListDisplays},
        {{"-FBdebug"}, KivClientAction::ListDisplaysDebug},
        {{"-C", "Stop Now"}, KivClientAction::PostCommand},
        // options that take arguments print the usage without them
        {{"-p"}, KivClientAction::Usage},
        {{"-v"}, KivClientAction::Usage},
        {{"-c"}, KivClientAction::Usage},
        {{"-e"}, KivClientAction::Usage},
        {{"-t"}, KivClientAction::Usage},
        {{"-C"}, KivClientAction::Usage},
        {{"-G"}, KivClientAction::Usage},
        {{"-G", "1", "2", "3"}, KivClientAction::Usage},
        {{"-g", "1", "2"}, KivClientAction::Usage},
        {{"--log-level"}, KivClientAction::Usage},
        {{"--log-levels", "x"}, KivClientAction::Usage},
    };
    for (auto& c : cases) {
        std::vector<std::string> args = {"kiv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(ParseKivClientArgs(args).action, c.action) << (c.args.empty() ? "(none)" : c.args[0]);
    }
    auto r = ParseKivClientArgs({"kiv", "-C", "Volume Set", "50", "x y"});
    EXPECT_EQ(r.command, (std::vector<std::string>{"Volume Set", "50", "x y"}));
}

TEST(KivClientRequest, LongArgumentsStayBounded) {
    std::string huge(20000, 'a');
    auto r = ParseKivClientArgs({"kiv", "-p", huge});
    EXPECT_EQ(r.request.size(), KIV_CLIENT_REQUEST_SIZE - 1);
    auto m = ParseKivClientArgs({"kiv", "--log-mask", huge});
    EXPECT_EQ(m.request, "LogMask," + std::string(127, 'a') + ",");
}

TEST(KivClientRequest, UsageText) {
    std::string u = KivClientUsage("/usr/bin/kiv");
    EXPECT_EQ(u.rfind("Usage: /usr/bin/kiv [OPTION...]\n\nkiv is the Moltan Player CLI helper utility.", 0), 0u);
    EXPECT_NE(u.find("\nOptions:\n"), std::string::npos);
    EXPECT_NE(u.find("\n  -s                           - Get kivd status\n"), std::string::npos);
    EXPECT_NE(u.find("\n  -P PLAYLISTNAME [STARTITEM]  - Play Playlist PLAYLISTNAME once, optionally\n"
                     "                                 starting on item STARTITEM in the playlist\n"),
              std::string::npos);
    EXPECT_NE(u.find("stepback - step a paused sequence backwards\n"), std::string::npos);
    EXPECT_EQ(u.find("--log-level"), std::string::npos);
    EXPECT_EQ(u.find("FBdebug"), std::string::npos);
}

} // namespace
