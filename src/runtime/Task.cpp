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
    // Demangling allocates, and pool threads ask for the name of every task they run, mostly of one type
    // after another: the last type's name is kept beside the table of all seen.
    thread_local const std::type_info* lastType = nullptr;
    thread_local const std::string* lastName = nullptr;
    thread_local std::unordered_map<std::type_index, std::string> demangledNames;
    const std::type_info& type = typeid(*this);
    // Comparing addresses first spares the name comparison type_info's == falls back on.
    if (lastType != &type && (lastType == nullptr || *lastType != type)) {
        auto it = demangledNames.find(std::type_index(type));
        if (it == demangledNames.end()) {
            const char* raw = type.name();
            int status = 0;
            std::unique_ptr<char, void (*)(void*)> demangled(
                abi::__cxa_demangle(raw, nullptr, nullptr, &status), std::free);
            it = demangledNames.emplace(type, (status == 0 && demangled) ? demangled.get() : raw).first;
        }
        // Node-based map: the element stays where it is while others are added.
        lastType = &type;
        lastName = &it->second;
    }
    const std::string& name = *lastName;
    // Demangled names rarely begin with the prefix: the first character settles most cases.
    if (!classPrefix_.empty() && name.size() >= classPrefix_.size() && name.front() == classPrefix_.front() &&
        name.compare(0, classPrefix_.size(), classPrefix_) == 0) {
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
