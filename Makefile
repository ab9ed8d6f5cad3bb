# Parvex: every target installs what is missing first, so a fresh Debian 12 machine needs
# nothing but this repository.
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE   ?= cmake
CTEST   ?= ctest
CTEST_FLAGS = --output-on-failure -j $(JOBS)

.PHONY: all deps build test run screenshots bench sanitize tsan fuzz fuzz-deps format clean

all: build

deps:
	@scripts/install-deps

build/build.ninja: | deps
	$(CMAKE) -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps build/build.ninja
	$(CMAKE) --build build -j $(JOBS)

test: build
	$(CTEST) --test-dir build $(CTEST_FLAGS)

run: build
	scripts/run-main

# The README's pictures of the windows, in English and Chinese, on a virtual display.
screenshots: build
	QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
	  build/tools/screenshots/parvex-screenshots docs/screenshots

# Benchmarks against their peers; figures are ratios from one run (shared, noisy machines).
bench: build
	build/bench/store_bench
	build/bench/dispatch_bench
	bench/download_bench.sh

# AddressSanitizer + UndefinedBehaviorSanitizer build running the same tests.
build-asan/build.ninja: | deps
	$(CMAKE) -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARVEX_SANITIZE=address

sanitize: deps build-asan/build.ninja
	$(CMAKE) --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(CTEST) --test-dir build-asan $(CTEST_FLAGS)

# ThreadSanitizer build of the engine tests and of the front-end tests whose threads (trackers,
# listings) meet the window thread. Qt itself is not instrumented, so the rest of the front end
# is left to the other builds.
build-tsan/build.ninja: | deps
	$(CMAKE) -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARVEX_SANITIZE=thread \
	  -DPARVEX_ENGINE_ONLY=OFF

tsan: deps build-tsan/build.ninja
	$(CMAKE) --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  $(CTEST) --test-dir build-tsan $(CTEST_FLAGS) -L 'engine|threads'

# libFuzzer targets (clang 14) of every parser of outside text, each run for FUZZ_SECONDS over
# a copy of its seed corpus under fuzz/corpus/; any crash, leak, time-out, sanitizer report or
# broken invariant fails.
FUZZ_SECONDS ?= 60

fuzz-deps:
	@scripts/install-deps fuzz

build-fuzz/build.ninja: | fuzz-deps
	$(CMAKE) -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVEX_FUZZ=ON \
	  -DCMAKE_CXX_COMPILER=clang++-14

fuzz: fuzz-deps build-fuzz/build.ninja
	$(CMAKE) --build build-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run-fuzzers build-fuzz

format:
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz
