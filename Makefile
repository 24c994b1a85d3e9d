# Thin front end over CMake; everything lands in build/, which is a runnable tree.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all configure test deps demo bench clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	@if [ ! -f $(BUILD)/CMakeCache.txt ]; then \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS); \
	fi

deps:
	bash scripts/install-deps.sh

test: deps all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: all
	bash demo/run-demo.sh $(BUILD)

bench: configure
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	bash bench/run-all.sh $(BUILD)

clean:
	rm -rf $(BUILD)
