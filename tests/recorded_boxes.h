#pragma once
// Records every message box the windows ask for and answers it without a
// modal loop.

#include <QString>
#include <deque>
#include <mutex>
#include <vector>

#include "gui/message_box.h"

class RecordedBoxes {
public:
    RecordedBoxes()
    {
        platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest &request) {
            std::lock_guard<std::mutex> guard(lock_);
            boxes_.push_back(request);
            if (answers_.empty())
                return int(platform::ResultOk);
            const int answer = answers_.front();
            answers_.pop_front();
            return answer;
        });
    }
    ~RecordedBoxes() { platform::SetMessageBoxHandler({}); }

    void AnswerNext(int answer)
    {
        std::lock_guard<std::mutex> guard(lock_);
        answers_.push_back(answer);
    }
    std::vector<platform::MessageBoxRequest> Boxes() const
    {
        std::lock_guard<std::mutex> guard(lock_);
        return boxes_;
    }
    size_t Count() const { return Boxes().size(); }
    QStringList Texts() const
    {
        QStringList texts;
        for (const auto &box : Boxes())
            texts << box.text;
        return texts;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(lock_);
        boxes_.clear();
    }

private:
    mutable std::mutex lock_;
    std::vector<platform::MessageBoxRequest> boxes_;
    std::deque<int> answers_;
};
