#include "cli/progress_printer.h"

#include <QJsonObject>
#include <cstdio>

ProgressPrinter::ProgressPrinter(CliOutput* out, Mode mode, std::function<double()> now)
    : out_(out), mode_(mode), now_(std::move(now)) {}

void ProgressPrinter::begin() {
    stage_start_ = now_();
    phase_ = -1;
}

void ProgressPrinter::callback(uint32_t current, uint32_t total, int phase, void* user_data) {
    static_cast<ProgressPrinter*>(user_data)->report(current, total, phase);
}

std::string ProgressPrinter::line(int phase, const TransferMeter& meter) {
    std::string text;
    if (phase == 0) {
        text = "Erasing: block " + std::to_string(meter.done()) + " of " +
               std::to_string(meter.total()) + " (" + std::to_string(meter.percent()) + "%)";
    } else {
        text = "Writing: " + byte_count_text(meter.done()) + " of " +
               byte_count_text(meter.total()) + " (" + std::to_string(meter.percent()) + "%)";
        if (meter.rate() >= 0.0) {
            text += ", " + byte_rate_text(meter.rate());
        }
    }
    if (meter.done() < meter.total() && meter.seconds_left() >= 0.0) {
        text += ", " + duration_text(meter.seconds_left()) + " left";
    }
    return text;
}

void ProgressPrinter::report(uint32_t current, uint32_t total, int phase) {
    const double now = now_();
    bool edge = false;
    if (phase != phase_) {
        // A stage is measured from the end of the one before it (or from the upload's start).
        meter_.start(total, phase_ < 0 ? stage_start_ : now);
        if (phase_ >= 0) {
            stage_start_ = now;
        }
        phase_ = phase;
        edge = true;
    }
    meter_.update(current, now);
    show(edge || current >= total);
}

void ProgressPrinter::show(bool stage_edge) {
    const double now = now_();
    const double gap = mode_ == Mode::Terminal ? kTerminalRedrawSeconds
                       : mode_ == Mode::Plain  ? kPlainLineSeconds
                                               : kJsonEventSeconds;
    if (mode_ == Mode::Off || (!stage_edge && last_shown_ >= 0.0 && now - last_shown_ < gap)) {
        return;
    }
    last_shown_ = now;
    FILE* err = out_->errStream();
    if (mode_ == Mode::Json) {
        QJsonObject event{{QStringLiteral("stage"),
                           phase_ == 0 ? QStringLiteral("erase") : QStringLiteral("write")},
                          {QStringLiteral("done"), static_cast<double>(meter_.done())},
                          {QStringLiteral("total"), static_cast<double>(meter_.total())},
                          {QStringLiteral("percent"), meter_.percent()}};
        if (meter_.rate() >= 0.0) {
            event.insert(QStringLiteral("rate_per_second"), meter_.rate());
        }
        if (meter_.done() < meter_.total() && meter_.seconds_left() >= 0.0) {
            event.insert(QStringLiteral("seconds_left"), meter_.seconds_left());
        }
        out_->progress(event);
        return;
    }
    std::string text = line(phase_, meter_);
    const int columns = columns_ ? columns_() : 0;
    // The last column is left free: a terminal wraps when it is written.
    if (mode_ == Mode::Terminal && columns > 1 && text.size() >= static_cast<size_t>(columns)) {
        text.resize(static_cast<size_t>(columns - 1));
    }
    if (mode_ == Mode::Plain) {
        std::fprintf(err, "%s\n", text.c_str());
    } else {
        // Spaces clear what a longer line drew before.
        const size_t pad = drawn_width_ > text.size() ? drawn_width_ - text.size() : 0;
        std::fprintf(err, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
        drawn_width_ = text.size();
    }
    std::fflush(err);
}

void ProgressPrinter::finish() {
    if (mode_ == Mode::Terminal && drawn_width_ > 0) {
        std::fputc('\n', out_->errStream());
        std::fflush(out_->errStream());
        drawn_width_ = 0;
    }
}
