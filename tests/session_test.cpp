#include "program.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Each answer goes in only once its prompt has arrived, as a person at a
// terminal or a script on pipes would do it: a prompt held back in a buffer
// shows up here as a timeout, not as a slow test.
class Conversation : public testing::TestWithParam<Session::Over> {};

TEST_P(Conversation, EachPromptArrivesBeforeTheProgramWaits)
{
    Session session{GetParam()};
    EXPECT_EQ(session.receive(texts::prompt.size()), texts::prompt);
    session.send("13/01/2019\n");
    EXPECT_EQ(session.receive(texts::format_error.size() + texts::prompt.size()), texts::format_error + texts::prompt);
    // Half a date: the program waits for the rest without asking again.
    session.send("12/25\n");
    EXPECT_EQ(session.receive_for(300ms), "");
    session.send("/2019\n");
    EXPECT_EQ(session.receive(texts::prompt.size()), texts::prompt);
    session.send("01/01/2020\n");
    EXPECT_EQ(session.receive(texts::first_earlier.size()), texts::first_earlier);
    const auto [status, errors] = session.finish();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "");
}

TEST_P(Conversation, EndOfInputAtAPromptEndsTheRun)
{
    Session session{GetParam()};
    EXPECT_EQ(session.receive(texts::prompt.size()), texts::prompt);
    session.send("12/25/2019\n");
    EXPECT_EQ(session.receive(texts::prompt.size()), texts::prompt);
    session.end_input();
    EXPECT_EQ(session.receive(1), "\n");
    const auto [status, errors] = session.finish();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(errors, "");
}

std::string channel_name(const testing::TestParamInfo<Session::Over> &param_info)
{
    return param_info.param == Session::Over::pipes ? "Pipes" : "Terminal";
}

INSTANTIATE_TEST_SUITE_P(Over, Conversation, testing::Values(Session::Over::pipes, Session::Over::terminal),
                         channel_name);

} // namespace
