// What the outside and inside direct-connect machines have in common: lifecycle, settings and parameters,
// the weak link to the transition controller, timers that feed events back into its queue, and the probes
// of internal and edge visibility. Each machine keeps its own events, states and transitions.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "oxl/edge/DirectConnectFsmSettings.h"
#include "oxl/edge/EdgeTransitionDetectionController.h"
#include "oxl/edge/InternalNetworkVisibilityTester.h"
#include "oxl/runtime/Timer.h"

namespace oxl::edge {

class DirectConnectFsmBase {
  public:
    DirectConnectFsmBase(const DirectConnectFsmBase&) = delete;
    DirectConnectFsmBase& operator=(const DirectConnectFsmBase&) = delete;

    void start() { started_ = true; }
    bool isStarted() const { return started_; }

    void setDetectionParameters(const DetectionParameters& parameters) { parameters_ = parameters; }
    const DetectionParameters& getDetectionParameters() const { return parameters_; }
    void setSettings(const DirectConnectFsmSettings& settings) { settings_ = settings; }

    const std::string& getName() const { return name_; }

  protected:
    // Fires on a timer thread and only queues the event it makes into the controller.
    class ControllerEventTimer : public oxl::Timer {
      public:
        using MakeEvent = std::function<std::unique_ptr<ControllerEvent>()>;
        ControllerEventTimer(std::weak_ptr<EdgeTransitionDetectionController> controller, std::string label,
                             std::string eventName, MakeEvent makeEvent);
        ~ControllerEventTimer() override { killTimer(); }
        void onTimer() override;

      private:
        std::weak_ptr<EdgeTransitionDetectionController> controller_;
        const std::string label_;
        const std::string eventName_;
        const MakeEvent makeEvent_;
    };

    // A state knows its name and its machine; every event handler starts with the same debug line.
    template <class Machine>
    class StateBase {
      public:
        StateBase(Machine& fsm, std::string name) : fsm_(fsm), name_(std::move(name)) {}
        virtual ~StateBase() = default;
        virtual void onEntry() = 0;
        const std::string& getName() const { return name_; }

      protected:
        template <class Event>
        void processing(const Event& event) const {
            logProcessing(name_, event.getName());
        }
        template <class Event>
        void ignore(const Event& event) const {
            logProcessing(name_, event.getName());
            logIgnoring(name_, event.getName());
        }

        Machine& fsm_;
        const std::string name_;
    };

    static void logProcessing(const std::string& state, const std::string& event);
    static void logIgnoring(const std::string& state, const std::string& event);

    DirectConnectFsmBase(std::string name, std::weak_ptr<EdgeTransitionDetectionController> controller,
                         DirectConnectFsmSettings settings);
    ~DirectConnectFsmBase();

    // False, with a debug line, while the machine is stopped.
    bool acceptsEvents() const;
    // Null, with a debug line naming what will not be done, once the controller is gone.
    std::shared_ptr<EdgeTransitionDetectionController> lockController(const char* operation) const;

    // Uses the installed mock tester when there is one; the real tester is kept for internalServiceRecord().
    bool probeInternalVisibility(ServiceRecord& record);
    ServiceRecord internalServiceRecord() const;
    // Edge records from the installed sensor, else from a DNS-backed one for the parameters' external domain.
    bool evaluateEdgeRecords(std::vector<EdgeServiceRecordData>& records);

    const std::string name_;
    std::weak_ptr<EdgeTransitionDetectionController> controller_;
    DirectConnectFsmSettings settings_;
    DetectionParameters parameters_;
    bool started_ = false;

  private:
    std::unique_ptr<InternalNetworkVisibilityTester> internalTester_;
};

}  // namespace oxl::edge
