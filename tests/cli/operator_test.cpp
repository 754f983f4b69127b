// The companion's operator in-process: how boxes and list lines become output lines, how the
// start confirmation is answered, and the progress line's place on the terminal.

#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "app/cli.h"

namespace kordb {
namespace {

struct Streams {
    std::ostringstream out, err;
    CliEnvironment env;
    std::deque<std::optional<std::string>> typed;

    Streams() {
        env.readAnswer = [this]() -> std::optional<std::string> {
            if (typed.empty()) return std::nullopt;
            auto a = typed.front();
            typed.pop_front();
            return a;
        };
    }
};

TEST(CliOperator, EveryBoxIsOneStderrLine) {
    Streams s;
    CliOperator op(s.out, s.err, s.env);
    EXPECT_EQ(op.messageBox("Verifying Completed. No Error Found.", "Message", Icon::Exclamation,
                            Buttons::Ok),
              kAnswerOk);
    op.messageBox("first\r\nsecond\nthird\rfourth", "Message", Icon::Critical, Buttons::Ok);
    op.messageBox("3265", "", Icon::None, Buttons::Ok);  // the bare error-number box
    op.listAdd("[A1] two\nlines");
    EXPECT_EQ(s.err.str(),
              "Message: Verifying Completed. No Error Found.\n"
              "Message: first / second / third / fourth\n"
              "Korvin Database Migration Tools: 3265\n");
    EXPECT_EQ(s.out.str(), "[A1] two / lines\n");
}

TEST(CliOperator, ConfirmationIsAnsweredByYesByTheTerminalOrNo) {
    const std::string question = "Confirm to Start Migrate ? ";
    {
        Streams s;
        CliOperator op(s.out, s.err, s.env);
        op.setConfirm(CliOperator::Confirm::Yes);
        EXPECT_EQ(op.messageBox(question, "Question", Icon::Question, Buttons::YesNo), kAnswerYes);
        EXPECT_EQ(s.err.str().rfind("Question: Confirm to Start Migrate ? \n# ", 0), 0u)
            << s.err.str();
    }
    {
        Streams s;
        s.typed = {" yes ", "y", "n", "", "ja", std::nullopt};
        CliOperator op(s.out, s.err, s.env);
        op.setConfirm(CliOperator::Confirm::AskTerminal);
        std::vector<int> answers;
        for (int i = 0; i < 6; ++i)
            answers.push_back(op.messageBox(question, "Question", Icon::Question, Buttons::YesNo));
        EXPECT_EQ(answers, (std::vector<int>{kAnswerYes, kAnswerYes, kAnswerNo, kAnswerNo,
                                             kAnswerNo, kAnswerNo}));
        EXPECT_EQ(s.err.str().rfind("Question: Confirm to Start Migrate ?  [y/N] ", 0), 0u);
    }
    {
        Streams s;
        s.typed = {"y"};
        CliOperator op(s.out, s.err, s.env);  // no terminal, no --yes
        EXPECT_EQ(op.messageBox(question, "Question", Icon::Question, Buttons::YesNo), kAnswerNo);
        EXPECT_EQ(s.typed.size(), 1u) << "nothing is read";
        EXPECT_NE(s.err.str().find("\n# answered No"), std::string::npos);
    }
}

TEST(CliOperator, ProgressLineOnlyOnATerminalAndClearedBeforeOtherOutput) {
    {
        Streams s;
        s.env.stderrIsTerminal = true;
        CliOperator op(s.out, s.err, s.env);
        op.startProgress(3);
        op.listAdd("[A1] One");
        EXPECT_EQ(s.err.str(), "\r  1/3 rows\033[K");
        op.messageBox("Oops", "Message", Icon::Critical, Buttons::Ok);
        EXPECT_EQ(s.err.str(), "\r  1/3 rows\033[K\r\033[KMessage: Oops\n")
            << "the box starts on a clean row";
        op.listAdd("[A2] Two");
        op.stopProgress();
        std::string err = s.err.str();
        EXPECT_EQ(err.substr(err.size() - 4), "\r\033[K");
        EXPECT_EQ(s.out.str(), "[A1] One\n[A2] Two\n");
        op.listAdd("[A3] Three");
        EXPECT_EQ(s.err.str(), err) << "no progress once stopped";
    }
    {
        Streams s;  // standard error redirected: no progress at all
        CliOperator op(s.out, s.err, s.env);
        op.startProgress(3);
        op.listAdd("[A1] One");
        op.stopProgress();
        EXPECT_EQ(s.err.str(), "");
    }
}

}  // namespace
}  // namespace kordb
