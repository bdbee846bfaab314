// The AT command interpreter of the simulated modem, free of any device: it
// takes the bytes a host writes and returns what the modem answers, so the
// pty loop and the tests share one behaviour.
#pragma once

#include <cstddef>
#include <set>
#include <string>

enum class ModemMode { Gsm, Cdma };

struct ModemOptions {
    ModemMode mode = ModemMode::Gsm;
    std::string store;     // message store directory
    std::string sent_file; // one line per accepted submission
    bool hold_send_result = false; // keep a submission's result for take_send_result()
    std::string record_file; // every command line and PDU received, one a line
    // The modem vanishes when the vanish_nth command (counted from 1) that
    // starts with vanish_at (as written after "AT", e.g. "+CMGS") arrives.
    std::string vanish_at;
    int vanish_nth = 1;
    // The modem stops answering (its line stays) when the stall_nth command
    // that starts with stall_at arrives; resume() then carries that command
    // and everything written meanwhile out in order.
    std::string stall_at;
    int stall_nth = 1;
};

// The sent-file form of a text: newlines and carriage returns written as
// the two characters \n and \r, so one message stays one line.
std::string escape_sent_text(const std::string& text);

class ModemSession {
public:
    explicit ModemSession(const ModemOptions& options) : opt_(options) {}

    // Takes bytes from the host, returns the modem's answer (echo included).
    std::string feed(const char* data, size_t n);
    // True when no command line or PDU is half received.
    bool idle() const { return input_ == Input::Line && line_.empty(); }
    bool echo() const { return echo_; }
    // True once when the modem is to vanish (vanish_at reached).
    bool take_vanish()
    {
        bool v = vanish_;
        vanish_ = false;
        return v;
    }
    // True once when the modem has just stalled (stall_at reached).
    bool take_stall()
    {
        bool v = stall_started_;
        stall_started_ = false;
        return v;
    }
    bool stalled() const { return stalled_; }
    // Bytes written to a stalled modem wait, unread, for resume().
    void hold(const char* data, size_t n) { held_input_.append(data, n); }
    // Ends a stall: answers the command it began at, then whatever was held.
    std::string resume();
    // A modem that came back starts as after power-on: no half-received input.
    void power_on()
    {
        echo_ = true;
        input_ = Input::Line;
        line_.clear();
        pdu_.clear();
    }
    // The result of the last submission when hold_send_result is set (the
    // network's answer, which the caller may deliver late); empty if none.
    std::string take_send_result()
    {
        std::string r;
        r.swap(held_);
        return r;
    }

private:
    enum class Input { Line, Pdu };

    std::string run_command(const std::string& line);
    bool stall_trigger(const std::string& line);
    std::string run_gsm(const std::string& cmd);
    std::string run_cdma(const std::string& cmd);
    std::string read_slot(const std::string& arg, const char* tag);
    std::string delete_slots(const std::string& arg);
    std::string start_submit(const std::string& arg, long max_len);
    std::string finish_submit();
    int next_reference();
    void record(const std::string& what) const;
    bool marker(const char* name) const;

    ModemOptions opt_;
    bool echo_ = true;
    Input input_ = Input::Line;
    std::string line_;
    std::string pdu_;
    std::string held_;
    long pdu_len_ = 0;
    int reference_ = 0;
    int vanish_seen_ = 0;
    bool vanish_ = false;
    int stall_seen_ = 0;
    bool stall_started_ = false;
    bool stalled_ = false;
    std::string stalled_line_; // the command the stall began at
    std::string held_input_;
    std::string pdu_raw_; // the PDU entry as received, for the record
    std::set<std::string> read_; // "index:pdu" of messages shown once (status read)
};
