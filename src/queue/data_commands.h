#pragma once
// Queued save-slot commands. Persistence sits above the queue and registers the executor that
// writes or reads a slot; the load's stop flag is raised here so that a load always ends the
// running script waits, even before anything reads the slot.
#include <string>

#include "queue/queued_command.h"

namespace vaxo2::queue {

class classQue_DataSave;
class classQue_DataLoad;

class DataCommandTarget {
  public:
    virtual ~DataCommandTarget() = default;
    virtual void save(const classQue_DataSave& command) = 0;
    // Called after dataLoadRequested is set: wakes the script waits, then reads the slot.
    virtual void load(const classQue_DataLoad& command) = 0;
};

void setDataCommandTarget(DataCommandTarget* target);
DataCommandTarget* dataCommandTarget();

class classQue_DataSave : public classQueBase {
  public:
    explicit classQue_DataSave(std::string slotPath = {}) : path(std::move(slotPath)) {}
    void execute(QueExecuteContext& context) override;
    std::string path;
};

class classQue_DataLoad : public classQueBase {
  public:
    explicit classQue_DataLoad(std::string slotPath = {}) : path(std::move(slotPath)) {}
    void execute(QueExecuteContext& context) override;
    std::string path;
};

}  // namespace vaxo2::queue
