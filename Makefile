# Velmarin: `make run` builds and starts the program on a demo database, `make test` builds and runs every test.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ ! -e $(BUILD_DIR)/bin/Cust.mdb ]; then $(BUILD_DIR)/bin/velmarin-mkdb $(BUILD_DIR)/bin --demo; fi
	@$(BUILD_DIR)/bin/velmarin

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	@$(BUILD_DIR)/bin/velmarin-bench

clean:
	@rm -rf $(BUILD_DIR)
