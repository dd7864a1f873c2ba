# The README's commands. Each installs what is missing, configures and builds first.
BUILD      ?= build
GENERATOR  ?= Ninja
CMAKE_ARGS ?=
FUZZ_SECONDS ?= 60
SOAK_SECONDS ?= 600
SIM_ARGS   ?=
PACKAGE_ARGS ?=

.PHONY: all deps build test run package screenshot asan tsan fuzz bench soak format format-check clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure --timeout 600

run: build
	@SIM_ARGS='$(SIM_ARGS)' bash scripts/run.sh $(BUILD)

# The Debian package of every program, checked by lintian; PACKAGE_ARGS=--check also unpacks it
# and runs each program's --version from there.
package: build
	@bash scripts/package.sh $(BUILD) $(PACKAGE_ARGS)

screenshot: build
	@bash scripts/screenshot.sh $(BUILD)

# Every suite under address+undefined, then under thread sanitizer. Any finding ends the program
# with an error (leaks included), so the suite fails. Benchmarks and the screenshot tool are left
# out of these trees.
SAN_CMAKE := -DNIBP_BUILD_BENCH=OFF
ASAN_ENV  := ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1 \
             LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
             UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Without Qt: its libraries are not instrumented, so its own locking is invisible to the
# sanitizer, and a suppression by library name would also hide our races on every stack that
# runs under Qt's event loop. The headless window drives the same hand-over code.
TSAN_ENV  := TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"

asan: deps
	cmake -S . -B build-asan -G $(GENERATOR) -DNIBP_SANITIZE=address,undefined $(SAN_CMAKE) $(CMAKE_ARGS)
	cmake --build build-asan
	$(ASAN_ENV) ctest --test-dir build-asan --output-on-failure --timeout 900

tsan: deps
	cmake -S . -B build-tsan -G $(GENERATOR) -DNIBP_SANITIZE=thread -DNIBP_WITH_QT=OFF $(SAN_CMAKE) $(CMAKE_ARGS)
	cmake --build build-tsan
	$(TSAN_ENV) ctest --test-dir build-tsan --output-on-failure --timeout 900

fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz -G $(GENERATOR) -DNIBP_FUZZ=ON -DNIBP_WITH_QT=OFF $(CMAKE_ARGS)
	cmake --build build-fuzz --target fuzz_receive
	bash scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

bench: build
	@bash scripts/bench.sh $(BUILD)

soak: build
	@SOAK_SECONDS=$(SOAK_SECONDS) bash scripts/soak.sh $(BUILD)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails on any C++ file that format would change.
format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
