# The whole set-up: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

WINDOWS_DIR ?= build-windows

.PHONY: all configure build run test sanitize bench soak clean windows windows-build

all: build

# Each target installs what it needs, and nothing more (scripts/install-deps
# names the groups).
configure:
	@scripts/install-deps build
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	@scripts/install-deps run
	@scripts/run $(BUILD_DIR)

# Linux, then the Windows build under Wine.
test: build windows-build
	@scripts/install-deps test desktops
	@cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)
	@cd $(WINDOWS_DIR) && ctest --output-on-failure -j$(JOBS)

# kelvane.exe, its installer and a portable .zip, cross-built with mingw-w64.
windows-build:
	@scripts/install-deps windows
	@cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(WINDOWS_DIR) -j$(JOBS)

windows: windows-build
	@cd $(WINDOWS_DIR) && cpack >/dev/null
	@cd $(WINDOWS_DIR) && ls -l stripped/kelvane.exe kelvane-*-win64.exe kelvane-*-win64.zip
	@echo "kelvane.exe: $$(stat -c %s $(WINDOWS_DIR)/stripped/kelvane.exe) bytes stripped (at most 307200)"

# The whole test suite again, built with AddressSanitizer and UBSan.
sanitize:
	@scripts/install-deps build test desktops
	@cmake -S . -B $(BUILD_DIR)-asan -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD_DIR)-asan -j$(JOBS)
	@cd $(BUILD_DIR)-asan && \
	  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$(CURDIR)/tests/sanitizers/ubsan.supp \
	  ctest --output-on-failure -j$(JOBS) -E package

# Side-by-side figures against the baseline (IDLE seconds of idle measuring).
# In a build folder of their own, so that the main one stays as make test
# left it.
BENCH_DIR ?= $(BUILD_DIR)-bench
IDLE ?= 60
bench: windows-build
	@scripts/install-deps build bench test
	@cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BENCH_DIR) -j$(JOBS)
	@KELVANE_WINDOWS_BUILD=$(CURDIR)/$(WINDOWS_DIR) bench/run-benchmarks.sh $(BENCH_DIR) $(IDLE)

# Kelvane driven hard for DURATION seconds (10 minutes unless given).
DURATION ?= 600
soak:
	@scripts/install-deps build bench
	@cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BENCH_DIR) -j$(JOBS)
	@bench/soak.sh $(BENCH_DIR) $(DURATION)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-asan $(BENCH_DIR) $(WINDOWS_DIR)
