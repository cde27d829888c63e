// Answers to the window's modal dialogs, for tests that drive the window without a user: a
// confirmation box answered by its button text, a file dialog answered with a path.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <utility>

// While it lives, answers every confirmation the window asks by pressing the button with the
// given text (or, when none has it, the box's escape button), and records the questions.
class BoxAnswer {
public:
    explicit BoxAnswer(QString button) : button_(std::move(button)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start(5);
    }
    const QStringList& asked() const { return asked_; }

private:
    void answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        asked_ << box->text();
        for (QAbstractButton* b : box->buttons()) {
            if (b->text() == button_) {
                b->click();
                return;
            }
        }
        box->escapeButton()->click();
    }

    QString button_;
    QStringList asked_;
    QTimer timer_;
};

// Answers every file dialog with `path` while it lives.
class FileAnswer {
public:
    explicit FileAnswer(QString path) : path_(std::move(path)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr || !dialog->isVisible()) {
                return;
            }
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path_);
            static_cast<QDialog*>(dialog)->accept();
        });
        timer_.start(10);
    }

private:
    QString path_;
    QTimer timer_;
};
