# Velmarin: `make run` builds and starts the program on a demo database, `make test` builds and runs every test
# (the same inputs every time: the fuzz step runs from its kept corpus with a fixed seed), `make fuzz` runs the
# fuzzer with a random seed for FUZZ_SECONDS to look for new faults (its finds go to build/fuzz-new; a failing input
# is written as build/crash-<hash>, for tests/fuzz/corpus/ once the fault is fixed),
# `make install` installs it for the current user in ~/.local, `make package` builds a Debian package; those two
# build only what they install (no tests, fuzzers or benchmarks), every other target builds everything.
BUILD_DIR ?= build
TESTS = ON
install package: TESTS = OFF
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# Given on the command line only (make install PREFIX=...): an environment variable of that name is often set for
# other purposes.
PREFIX = $(HOME)/.local

.PHONY: all deps configure build run test fuzz bench install uninstall package clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DVELMARIN_BUILD_TESTS=$(TESTS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@if [ ! -e $(BUILD_DIR)/bin/Cust.mdb ]; then $(BUILD_DIR)/bin/velmarin-mkdb $(BUILD_DIR)/bin --demo; fi
	@$(BUILD_DIR)/bin/velmarin

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

FUZZ_SECONDS ?= 600
fuzz: build
	@if [ ! -x $(BUILD_DIR)/tests/fuzz/fuzz_phone_statements ]; then echo "The fuzzer needs clang with libFuzzer (see tests/fuzz/CMakeLists.txt)"; exit 1; fi
	@mkdir -p $(BUILD_DIR)/fuzz-new
	@cd $(BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1 LC_ALL=C.UTF-8 tests/fuzz/fuzz_phone_statements fuzz-new \
		$(CURDIR)/tests/fuzz/corpus -max_len=4096 -max_total_time=$(FUZZ_SECONDS) -timeout=60 -print_final_stats=1

bench: build
	@$(BUILD_DIR)/bin/velmarin-bench

install: build
	@cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"
	@if command -v update-desktop-database >/dev/null; then update-desktop-database -q "$(PREFIX)/share/applications" || true; fi
	@echo "Velmarin is installed in $(PREFIX); start it from the menu or with $(PREFIX)/bin/velmarin"

uninstall:
	@scripts/uninstall "$(PREFIX)"
	@if command -v update-desktop-database >/dev/null && [ -d "$(PREFIX)/share/applications" ]; then update-desktop-database -q "$(PREFIX)/share/applications" || true; fi

package: build
	@cd $(BUILD_DIR) && cpack --config CPackConfig.cmake
	@ls $(BUILD_DIR)/package/*.deb

# Everything but the address book filled through `make run` and its backups.
clean:
	@scripts/clean-build $(BUILD_DIR)
