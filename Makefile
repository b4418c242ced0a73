# Set-up on a fresh Debian 12 machine (as root): `make run` or `make test`.
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test bench asan tsan clean format

deps:
	@tools/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	  echo "No display found: run the program with 'xvfb-run -a $(BUILD)/kelvarin' (or QT_QPA_PLATFORM=offscreen), or a headless job with '$(BUILD)/kelvarin-cli run examples/calculation.toml'."; \
	  exit 1; \
	fi
	$(BUILD)/kelvarin

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@for b in $$(ls $(BUILD)/bench/bench_* 2>/dev/null); do echo "== $$b"; $$b; done

asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVARIN_SANITIZE=ON -DKELVARIN_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The window logic and the command-line tool (where candidates are evaluated on several threads)
# under ThreadSanitizer; the Qt program is left out, as Qt itself is not instrumented.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARIN_GUI=OFF -DKELVARIN_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target kelvarin_windows_tests kelvarin_cli_tests
	cd $(TSAN_BUILD) && for t in tests/kelvarin_windows_tests tests/kelvarin_cli_tests; do \
	  TSAN_OPTIONS=halt_on_error=1 ./$$t --gtest_brief=1 || exit 1; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
