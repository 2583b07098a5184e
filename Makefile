# Front door for people and CI. Every target installs missing Debian packages first (as root),
# configures once and rebuilds only what changed.
JOBS ?= $(shell nproc)
BUILD ?= build
# ccache, when the machine has it, makes rebuilds in several checkouts cheap.
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CMAKE_FLAGS ?=

.PHONY: all deps build test test-asan fuzz demo bench format clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

# The test suite; under CI it also runs under AddressSanitizer + UndefinedBehaviorSanitizer and
# runs the fuzzers briefly.
test: build
	scripts/run-tests.sh $(BUILD)
ifneq ($(CI),)
	$(MAKE) test-asan
	$(MAKE) fuzz
endif

test-asan: deps
	@[ -f build-asan/CMakeCache.txt ] || cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVAXO2_SANITIZE=ON -DVAXO2_BENCH=OFF $(LAUNCHER)
	cmake --build build-asan -j$(JOBS)
	scripts/run-tests.sh build-asan

fuzz: deps
	scripts/run-fuzzers.sh build-fuzz 20

demo: build
	scripts/run-demo.sh $(BUILD)

bench: build
	scripts/run-benchmarks.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz out
