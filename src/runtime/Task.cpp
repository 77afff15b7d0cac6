#include "oxl/runtime/Task.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

namespace oxl {

Task::Task() : classPrefix_("class ") {}

Task::~Task() = default;

std::string Task::getName() {
    // Demangling allocates; pool threads ask for the name of every task they run.
    thread_local std::unordered_map<std::type_index, std::string> demangledNames;
    const std::type_index type(typeid(*this));
    auto it = demangledNames.find(type);
    if (it == demangledNames.end()) {
        const char* raw = typeid(*this).name();
        int status = 0;
        std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(raw, nullptr, nullptr, &status),
                                                         std::free);
        it = demangledNames.emplace(type, (status == 0 && demangled) ? demangled.get() : raw).first;
    }
    const std::string& name = it->second;
    if (!classPrefix_.empty() && name.compare(0, classPrefix_.size(), classPrefix_) == 0) {
        return name.substr(classPrefix_.size());
    }
    return name;
}

BlockingTask::BlockingTask(std::shared_ptr<Task> task) : done_(true), task_(std::move(task)) {}

void BlockingTask::execute() {
    if (task_) {
        task_->execute();
    }
    done_.set();
}

std::string BlockingTask::getName() {
    return "BT-" + (task_ ? task_->getName() : std::string());
}

void BlockingTask::waitDone() {
    done_.wait();
}

void BlockingTask::abandon() {
    abandoned_ = true;
    done_.set();
}

}  // namespace oxl
