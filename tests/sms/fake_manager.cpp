#include "fake_manager.h"

#include <cstdio>

#include "brenlow_state.h"

std::vector<SendOutcome> fake_outcomes;
std::vector<std::string> fake_tried;
bool fake_keep_tried = true;
long fake_sends = 0;

SendReport sms_send_report(const char* number, const char* text)
{
    ++fake_sends;
    if (fake_keep_tried)
        fake_tried.push_back(std::string(number) + " " + text);
    SendReport report;
    report.outcome = fake_outcomes.empty() ? SendOutcome::Sent : fake_outcomes.front();
    if (!fake_outcomes.empty())
        fake_outcomes.erase(fake_outcomes.begin());
    snprintf(report.answer, sizeof report.answer, "%s",
             report.outcome == SendOutcome::Sent ? "OK" : "\r\n+CMS ERROR: 500\r\n");
    // Not submitted stands for the device gone as well.
    brenlow.modem_lost = report.outcome == SendOutcome::NotSubmitted;
    return report;
}

int bad_number_byte(const char* number)
{
    return number[0] ? -1 : 0;
}

// The pause between two messages is the modem's, not the test's.
extern "C" unsigned int sleep(unsigned int)
{
    return 0;
}
