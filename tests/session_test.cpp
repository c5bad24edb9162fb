#include "program.hpp"

#include <array>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Each answer goes in only once its prompt has arrived, as a person at a
// terminal or a script on pipes would do it: a prompt held back in a buffer
// shows up here as a timeout, not as a slow test.
class Conversation : public testing::TestWithParam<Session::Over> {
protected:
    void SetUp() override
    {
        if (GetParam() == Session::Over::console) {
            if (!can_show(Need::console)) {
                GTEST_SKIP() << "needs a Windows program, and Xvfb and xdotool to type at Wine's console";
            }
        } else if (GetParam() != Session::Over::pipes && !can_show(Need::posix)) {
            GTEST_SKIP() << "needs a POSIX program";
        }
    }
};

TEST_P(Conversation, EachPromptArrivesBeforeTheProgramWaits)
{
    Session session{GetParam()};
    EXPECT_EQ(session.receive(texts::prompt.size()), texts::prompt);
    // The next read is shorter and ends where the blank stands: what an
    // earlier read left in the buffer must never be taken for input again.
    session.send("13/01/ 2019\n");
    const std::string retry = written(texts::format_error + texts::prompt);
    EXPECT_EQ(session.receive(retry.size()), retry);
    // Half a date: the program waits for the rest without asking again,
    // and a read of a lone line break is no end of input.
    session.send("12/25\n");
    EXPECT_EQ(session.receive_for(300ms), "");
    session.send("\n");
    EXPECT_EQ(session.receive_for(100ms), "");
    session.send("/2019\n");
    EXPECT_EQ(session.receive(texts::prompt.size()), texts::prompt);
    session.send("01/01/2020\n");
    const std::string verdict = written(texts::first_earlier);
    EXPECT_EQ(session.receive(verdict.size()), verdict);
    const auto [status, errors] = session.finish();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "");
}

// Input ends at a prompt, or inside a half-typed line, where at a terminal
// the first end-of-file key only hands the line over and the second ends
// input; at a Windows console Ctrl-Z ends it wherever it stands in the
// line. The run then ends at once: it never reads again, which at a
// terminal would wait for yet another key.
TEST_P(Conversation, EndOfInputEndsTheRun)
{
    // What is typed after the first prompt, and what must follow it.
    const std::vector<std::pair<std::string, std::string>> cases{
        {"12/25/2019\n", texts::prompt + "\n"},
        {"12", "\n"},
    };
    for (const auto &[typed, then] : cases) {
        SCOPED_TRACE(typed);
        Session session{GetParam()};
        EXPECT_EQ(session.receive(texts::prompt.size()), texts::prompt);
        session.send(typed);
        session.end_input();
        session.end_input();
        const std::string rest = written(then);
        ASSERT_EQ(session.receive(rest.size()), rest);
        const auto [status, errors] = session.finish();
        EXPECT_EQ(status, 1);
        EXPECT_EQ(errors, "");
    }
}

std::string channel_name(const testing::TestParamInfo<Session::Over> &param_info)
{
    constexpr std::array<const char *, 4> names{"Pipes", "NonBlockingPipes", "Terminal", "Console"};
    return names.at(static_cast<std::size_t>(param_info.param));
}

INSTANTIATE_TEST_SUITE_P(Over, Conversation,
                         testing::Values(Session::Over::pipes, Session::Over::non_blocking_pipes,
                                         Session::Over::terminal, Session::Over::console),
                         channel_name);

// A wait for input that fails ends the run as the end of input does: it
// neither spins nor goes on as if input had come.
TEST(Waiting, ThatFailsEndsTheRun)
{
    if (!can_show(Need::posix)) {
        GTEST_SKIP() << "needs a POSIX program";
    }
    // A sanitized build's leak check needs to open files at exit.
    ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    Session session{Session::Over::non_blocking_pipes};
    EXPECT_EQ(session.receive(texts::prompt.size()) + session.receive_for(100ms), texts::prompt);
    session.forbid_open_files();
    session.send("12/25/2019\n");
    ASSERT_EQ(session.receive(texts::prompt.size() + 1), texts::prompt + "\n");
    EXPECT_EQ(session.finish(), std::make_pair(1, std::string{}));
}

// The reader leaves once the prompts are in, so that only the write of the
// verdict fails: that must not pass as success.
TEST(Verdict, ThatCannotBeWrittenFailsTheRun)
{
    Session session{Session::Over::pipes, true};
    session.send("12/25/2019\n");
    const std::string prompts = texts::prompt + texts::prompt;
    EXPECT_EQ(session.receive(prompts.size()), prompts);
    session.stop_reading();
    session.send("01/01/2020\n");
    const auto [status, errors] = session.finish();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(errors, "");
}

} // namespace
