#include <atomic>

#include "core/app_context.h"
#include "queue/data_commands.h"
#include "queue/sound_commands.h"

namespace vaxo2::queue {

namespace {
std::atomic<SoundCommandTarget*> soundTarget{nullptr};
std::atomic<DataCommandTarget*> dataTarget{nullptr};
}  // namespace

void setSoundCommandTarget(SoundCommandTarget* target) {
    soundTarget.store(target);
}
SoundCommandTarget* soundCommandTarget() {
    return soundTarget.load();
}
void setDataCommandTarget(DataCommandTarget* target) {
    dataTarget.store(target);
}
DataCommandTarget* dataCommandTarget() {
    return dataTarget.load();
}

void classQue_DataSave::execute(QueExecuteContext&) {
    if (DataCommandTarget* target = dataCommandTarget()) {
        target->save(*this);
    }
}

void classQue_DataLoad::execute(QueExecuteContext&) {
    if (core::AppContext* app = core::appContext()) {
        app->dataLoadRequested.store(1);
    }
    if (DataCommandTarget* target = dataCommandTarget()) {
        target->load(*this);
    }
}

}  // namespace vaxo2::queue
