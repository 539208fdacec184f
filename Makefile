# Velmarin: `make run` builds and starts the program on a demo database, `make test` builds and runs every test,
# `make install` installs it for the current user in ~/.local, `make package` builds a Debian package.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
# Given on the command line only (make install PREFIX=...): an environment variable of that name is often set for
# other purposes.
PREFIX = $(HOME)/.local

.PHONY: all deps configure build run test bench install uninstall package clean

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
