# Set-up and everyday commands. `make run` and `make test` work on a fresh Debian 12
# machine as root: they install what is missing, build, and run.
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
TSAN_BUILD ?= build-tsan
LIBCXX_BUILD ?= build-libcxx
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 5
FUZZ_LONG_SECONDS ?= 600
LOG_ENTRIES ?= 1000000

# ccache when the machine has it: its cache (~/.cache/ccache or CCACHE_DIR) outlives a clean checkout.
LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: deps configure build run test format-check package fuzz-build fuzz-smoke fuzz tsan libcxx bench clean

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(LAUNCHER)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Opens the example in Varko's window; on a machine without a display it prints
# the same findings as text.
run: build
	@if [ "$$(uname)" = Darwin ]; then \
		$(BUILD)/bin/Varko.app/Contents/MacOS/Varko $(BUILD)/examples/Example.app; \
	elif [ -n "$${DISPLAY:-}$${WAYLAND_DISPLAY:-}" ]; then \
		$(BUILD)/bin/varko $(BUILD)/examples/Example.app; \
	else \
		echo "make run: no display (DISPLAY and WAYLAND_DISPLAY are unset); printing the report instead."; \
		$(BUILD)/bin/varko-report $(BUILD)/examples/Example.app; \
	fi

# The fuzz smoke comes first so that the test runner's summary ends the output.
test: build fuzz-smoke
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Every C++ file as .clang-format lays it out, with Debian's clang-format.
format-check: deps
	find src tests bench fuzz resources \( -name '*.cpp' -o -name '*.h' \) -print0 | \
		xargs -0 clang-format --dry-run --Werror

# A .deb on Linux (a disk image on macOS), left in the build folder.
package: build
	cd $(BUILD) && cpack

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DVARKO_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz-smoke: fuzz-build
	./scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz: fuzz-build
	./scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_LONG_SECONDS)

# The threaded code under the race detector: the thread budget, page hashing, component reads
# and checks, the scan's workers and the log walk.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DVARKO_TSAN=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target varko-codesign varko-spctl varko-pkgutil \
		concurrency_tests signature_tests overview_tests scan_tests logs_tests
	./scripts/tsan.sh $(TSAN_BUILD)

# Xcode's standard library, libc++. Debian's Qt is built against libstdc++, so the Qt-free parts
# are built and tested against libc++ 19 and every other file is compiled for errors alone.
libcxx: deps
	cmake -S . -B $(LIBCXX_BUILD) -G Ninja -DVARKO_LIBCXX=ON -DCMAKE_CXX_COMPILER=clang++-19 $(LAUNCHER)
	cmake --build $(LIBCXX_BUILD) -j $(JOBS)
	ctest --test-dir $(LIBCXX_BUILD) --output-on-failure -j $(JOBS)
	cmake -S . -B $(LIBCXX_BUILD)-syntax -G Ninja -DCMAKE_CXX_COMPILER=clang++-19 -DCMAKE_CXX_FLAGS=-stdlib=libc++
	./scripts/syntaxcheck.py $(LIBCXX_BUILD)-syntax $(LIBCXX_BUILD) $(JOBS)

bench: build
	$(BUILD)/bin/bench_info_build
	$(BUILD)/bin/bench_plist_parse
	$(BUILD)/bin/bench_startup
	$(BUILD)/bin/bench_tool_speed
	$(BUILD)/bin/bench_scan
	$(BUILD)/bin/bench_codeless
	./bench/log_pipeline.sh $(BUILD) $(LOG_ENTRIES)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(TSAN_BUILD) $(LIBCXX_BUILD) $(LIBCXX_BUILD)-syntax
