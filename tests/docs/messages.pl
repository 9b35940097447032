#!/usr/bin/env perl
# Usage: tests/docs/messages.pl ENTRIES SOURCE...
# The messages that C++ sources write to standard error or show in the error box, each held against ENTRIES (the
# messages a reference lists, one a line, its placeholders as words). Prints one line a message,
# "yes|no<TAB>FILE:LINE<TAB>MESSAGE", where yes means an entry matches it and "..." in MESSAGE marks a part the
# program fills in as it runs.
#
# A message is found where the code hands it on: to showError, to a ConfigurationError or a LaunchError (thrown,
# shown in the box), or to std::cerr; and through any function that passes its own argument on to one of those
# (fail, refuse, invalidConfiguration), at each of its calls. The words of a message are string literals, named
# string constants and what small functions (a body of one return statement, such as the launcher's messages)
# return; anything else is a part filled in at run time, which matches any words of an entry (its placeholders).
# Every line of a message is a message of its own; the "Error: " that standard error puts before each is left out.
# A message without a word of its own (the text of an exception passed on) says nothing, and is skipped.
use strict;
use warnings;

die "usage: $0 ENTRIES SOURCE...\n" unless @ARGV >= 2;
my ($entries_file, @sources) = @ARGV;

# Calls that take a message as their first argument.
my %takes_message = map { $_ => 1 } qw(showError ConfigurationError LaunchError);
# Streams that a statement writes messages to.
my %streams = map { $_ => 1 } qw(std::cerr std::clog);
# Names followed by "(" that are not calls of functions.
my %not_calls = map { $_ => 1 } qw(if for while switch catch sizeof alignof decltype static_assert noexcept
    return throw defined alignas);
# Words after which "name(" is still an expression, not a declaration.
my %expression_words = map { $_ => 1 } qw(return throw else case new delete co_return and or not);

# Tokens: [kind, value, line], kind one of id, str, num, chr, punct. A name holds its qualifiers (std::string).
sub tokenize {
    my ($text) = @_;
    my @tokens;
    my $line = 1;
    my $at_line_start = 1;
    pos($text) = 0;
    while (pos($text) < length $text) {
        if ($text =~ /\G([ \t\r\f\x0b]+)/gc) {
            next;
        }
        if ($text =~ /\G\n/gc) {
            $line++;
            $at_line_start = 1;
            next;
        }
        if ($at_line_start && $text =~ /\G#((?:[^\n\\]|\\.)*)/gcs) {
            $line += () = $1 =~ /\n/g;
            next;
        }
        $at_line_start = 0;
        if ($text =~ m{\G//[^\n]*}gc) {
            next;
        }
        if ($text =~ m{\G/\*(.*?)\*/}gcs) {
            $line += () = $1 =~ /\n/g;
            next;
        }
        if ($text =~ /\G(?:u8|[uUL])?R"([^(\s]*)\((.*?)\)\1"/gcs) {
            push @tokens, ['str', $2, $line];
            $line += () = $2 =~ /\n/g;
            next;
        }
        if ($text =~ /\G(?:u8|[uUL])?"((?:[^"\\\n]|\\.)*)"/gc) {
            push @tokens, ['str', unescape($1), $line];
            next;
        }
        if ($text =~ /\G(?:u8|[uUL])?'((?:[^'\\\n]|\\.)*)'/gc) {
            push @tokens, ['chr', $1, $line];
            next;
        }
        if ($text =~ /\G((?:::\s*)?[A-Za-z_]\w*(?:\s*::\s*~?[A-Za-z_]\w*)*)/gc) {
            (my $name = $1) =~ s/\s+//g;
            push @tokens, ['id', $name, $line];
            next;
        }
        if ($text =~ /\G(\.?\d(?:[\w.']|[eEpP][-+])*)/gc) {
            push @tokens, ['num', $1, $line];
            next;
        }
        if ($text =~ /\G(<<=|>>=|<<|>>|->|::|&&|\|\||==|!=|<=|>=|\+\+|--|[-+*\/%&|^!=<>]=|.)/gcs) {
            push @tokens, ['punct', $1, $line];
            next;
        }
    }
    return \@tokens;
}

sub unescape {
    my ($s) = @_;
    my %simple = (n => "\n", t => "\t", r => "\r", '\\' => '\\', '"' => '"', "'" => "'", '?' => '?', a => "\a",
        b => "\b", f => "\f", v => "\x0b");
    $s =~ s/\\(x[0-9A-Fa-f]+|[0-7]{1,3}|.)/
        my $e = $1;
        $e =~ m{^x} ? chr(hex substr $e, 1) : $e =~ m{^[0-7]} ? chr(oct $e) : ($simple{$e} \/\/ $e)/ge;
    return $s;
}

my %files;          # path => tokens
my %constants;      # path => { name => text }
my @definitions;    # { name, file, params, body => [from, to), returns => [from, to) or undef }

# The index of the bracket that closes the one at $i.
sub closing {
    my ($t, $i) = @_;
    my %pair = ('(' => ')', '[' => ']', '{' => '}');
    my $open = $t->[$i][1];
    my $close = $pair{$open};
    my $depth = 0;
    for (my $j = $i; $j < @$t; $j++) {
        next unless $t->[$j][0] eq 'punct';
        $depth++ if $t->[$j][1] eq $open;
        $depth-- if $t->[$j][1] eq $close;
        return $j if $depth == 0;
    }
    return $#$t;
}

# The ranges [from, to) between top-level occurrences of any of the punctuators @$separators in [from, to).
sub split_top {
    my ($t, $from, $to, @separators) = @_;
    my %is = map { $_ => 1 } @separators;
    my @parts;
    my $start = $from;
    my $depth = 0;
    for (my $j = $from; $j < $to; $j++) {
        next unless $t->[$j][0] eq 'punct';
        my $p = $t->[$j][1];
        if ($p eq '(' || $p eq '[' || $p eq '{') {
            $depth++;
        } elsif ($p eq ')' || $p eq ']' || $p eq '}') {
            $depth--;
        } elsif ($depth == 0 && $is{$p}) {
            push @parts, [$start, $j];
            $start = $j + 1;
        }
    }
    push @parts, [$start, $to];
    return @parts;
}

sub parameter_names {
    my ($t, $from, $to) = @_;
    my @names;
    for my $range (split_top($t, $from, $to, ',')) {
        my ($a, $b) = @$range;
        for (my $j = $a; $j < $b; $j++) {
            if ($t->[$j][0] eq 'punct' && $t->[$j][1] eq '=') {
                $b = $j;
                last;
            }
        }
        my $name;
        for (my $j = $a; $j < $b; $j++) {
            $name = $t->[$j][1] if $t->[$j][0] eq 'id';
        }
        push @names, $name if defined $name && $name ne 'void';
    }
    return \@names;
}

sub last_name {
    my ($name) = @_;
    $name =~ s/.*:://;
    return $name;
}

# After the ")" at $i of a function's parameters: the index of its body's "{", or undef.
sub body_after {
    my ($t, $i) = @_;
    my $j = $i + 1;
    while ($j < @$t) {
        my ($kind, $value) = @{$t->[$j]};
        if ($kind eq 'id' && $value =~ /^(const|noexcept|override|final|mutable)$/) {
            $j++;
        } elsif ($kind eq 'punct' && $value eq '->') {
            $j++;
            $j++ while $j < @$t && !($t->[$j][0] eq 'punct' && $t->[$j][1] =~ /^[{;=]$/);
        } else {
            last;
        }
    }
    return ($j < @$t && $t->[$j][0] eq 'punct' && $t->[$j][1] eq '{') ? $j : undef;
}

sub is_call {
    my ($t, $i) = @_;
    return 0 unless $t->[$i][0] eq 'id' && $i + 1 < @$t && $t->[$i + 1][1] eq '(' && $t->[$i + 1][0] eq 'punct';
    return 0 if $not_calls{$t->[$i][1]};
    return 1 if $i == 0;
    my ($kind, $value) = @{$t->[$i - 1]};
    return $expression_words{$value} ? 1 : 0 if $kind eq 'id';
    return 0 if $kind eq 'punct' && $value =~ /^[*&>~]$/;
    return 1;
}

sub add_definition {
    my ($file, $t, $name, $open, $body) = @_;
    my $end = closing($t, $body);
    my $returns;
    if ($t->[$body + 1][0] eq 'id' && $t->[$body + 1][1] eq 'return') {
        my @statements = split_top($t, $body + 1, $end, ';');
        $returns = [$body + 2, $statements[0][1]] if @statements == 2 && $statements[1][0] == $statements[1][1];
    }
    push @definitions, { name => last_name($name), file => $file, params => parameter_names($t, $open + 1,
        closing($t, $open)), body => [$body + 1, $end], returns => $returns };
}

for my $file (@sources) {
    open my $in, '<', $file or die "$file: $!\n";
    my $text = do { local $/; <$in> };
    close $in;
    my $t = tokenize($text);
    $files{$file} = $t;
    for (my $i = 0; $i < @$t; $i++) {
        my ($kind, $value) = @{$t->[$i]};
        next unless $kind eq 'id';
        # A named string constant: const or constexpr ... NAME = "text";
        if ($i + 3 < @$t && $t->[$i + 1][1] eq '=' && $t->[$i + 2][0] eq 'str') {
            my $j = $i + 2;
            my $text = '';
            $text .= $t->[$j++][1] while $j < @$t && $t->[$j][0] eq 'str';
            if ($t->[$j][1] eq ';') {
                my $k = $i - 1;
                my $const = 0;
                while ($k >= 0 && $t->[$k][1] !~ /^[;{}]$/) {
                    $const = 1 if $t->[$k][1] =~ /^(const|constexpr)$/;
                    $k--;
                }
                $constants{$file}{$value} = $text if $const;
            }
        }
        # A lambda given a name: auto NAME = [...](...) {...}
        if ($value eq 'auto' && $i + 3 < @$t && $t->[$i + 1][0] eq 'id' && $t->[$i + 2][1] eq '='
            && $t->[$i + 3][1] eq '[') {
            my $after = closing($t, $i + 3) + 1;
            if ($t->[$after][1] eq '(') {
                my $body = body_after($t, closing($t, $after));
                add_definition($file, $t, $t->[$i + 1][1], $after, $body) if defined $body;
            }
            next;
        }
        # A function: NAME(...) qualifiers {...}, after its type.
        if ($i > 0 && $i + 1 < @$t && $t->[$i + 1][1] eq '(' && !$not_calls{$value} && !is_call($t, $i)) {
            my $body = body_after($t, closing($t, $i + 1));
            add_definition($file, $t, $value, $i + 1, $body) if defined $body;
        }
    }
}

# The definitions a call of NAME from FILE may reach: the file's own, else any.
sub definitions_of {
    my ($name, $file, $filter) = @_;
    my @all = grep { $_->{name} eq $name } @definitions;
    my @own = grep { $_->{file} eq $file } @all;
    return grep { $filter->($_) } (@own ? @own : @all);
}

# A message is a list of parts: [L, text] (words), [H] (filled in at run time), [P, name] (a parameter's value).
# An expression may give several messages (a choice ?: between two).
my %templates;    # definition => [messages], for functions that pass a parameter on as (part of) a message

sub concat {
    my (@lists) = @_;
    my @result = ([]);
    for my $alternatives (@lists) {
        @result = map { my $r = $_; map { [@$r, @$_] } @$alternatives } @result;
        @result = @result[0 .. 63] if @result > 64;
    }
    return \@result;
}

sub hole { return [[['H']]] }

sub expand {
    my ($file, $t, $from, $to, $env, $depth) = @_;
    return hole() if $depth > 16 || $from >= $to;
    # cond ? a : b gives the messages of both.
    my @question = split_top($t, $from, $to, '?');
    if (@question > 1) {
        my ($start) = $question[1][0];
        my $nested = 0;
        for (my $j = $start; $j < $to; $j++) {
            my ($kind, $p) = @{$t->[$j]};
            next unless $kind eq 'punct';
            if ($p eq '(' || $p eq '[' || $p eq '{') { $j = closing($t, $j); next }
            $nested++ if $p eq '?';
            if ($p eq ':') {
                if ($nested) { $nested--; next }
                return [@{expand($file, $t, $start, $j, $env, $depth + 1)},
                    @{expand($file, $t, $j + 1, $to, $env, $depth + 1)}];
            }
        }
        return hole();
    }
    my @operands = split_top($t, $from, $to, '+', '<<');
    return concat(map { operand($file, $t, @$_, $env, $depth) } @operands) if @operands > 1;
    return operand($file, $t, $from, $to, $env, $depth);
}

sub arguments {
    my ($file, $t, $open, $env, $depth) = @_;
    my $close = closing($t, $open);
    return [] if $close == $open + 1;
    return [map { expand($file, $t, @$_, $env, $depth + 1) } split_top($t, $open + 1, $close, ',')];
}

# The messages of a call of NAME at $i whose arguments start at $open, or undef where NAME passes on no message.
sub call_messages {
    my ($file, $t, $i, $env, $depth) = @_;
    my $name = last_name($t->[$i][1]);
    my $args = arguments($file, $t, $i + 1, $env, $depth);
    return $args->[0] // hole() if $takes_message{$name};
    my @messages;
    for my $definition (definitions_of($name, $file, sub { $templates{$_[0]} })) {
        my %values;
        @values{@{$definition->{params}}} = @$args;
        for my $template (@{$templates{$definition}}) {
            push @messages, @{concat(map { $_->[0] eq 'P' ? ($values{$_->[1]} // hole()) : [[$_]] } @$template)};
        }
    }
    return @messages ? \@messages : undef;
}

sub operand {
    my ($file, $t, $from, $to, $env, $depth) = @_;
    return hole() if $from >= $to;
    if (!grep { $t->[$_][0] ne 'str' } $from .. $to - 1) {
        return [[['L', join '', map { $t->[$_][1] } $from .. $to - 1]]];
    }
    my ($kind, $value) = @{$t->[$from]};
    if ($kind eq 'punct' && $value eq '(' && closing($t, $from) == $to - 1) {
        return expand($file, $t, $from + 1, $to - 1, $env, $depth + 1);
    }
    if ($kind eq 'id' && $to == $from + 1) {
        return $env->{$value} if $env->{$value};
        return [[['L', $constants{$file}{$value}]]] if defined $constants{$file}{$value};
        return hole();
    }
    if ($kind eq 'id' && $t->[$from + 1][1] eq '(') {
        my $close = closing($t, $from + 1);
        # What follows the call may only ask the error it made for its message.
        my $rest = join ' ', map { $t->[$_][1] } $close + 1 .. $to - 1;
        return hole() unless $rest eq '' || $rest =~ /^\. (getMessage|what) \( \)$/;
        my $name = last_name($value);
        return expand($file, $t, $from + 2, $close, $env, $depth + 1) if $name eq 'string' && $close > $from + 2;
        my $passed = call_messages($file, $t, $from, $env, $depth + 1);
        return $passed if $passed;
        my @messages;
        for my $definition (definitions_of($name, $file, sub { $_[0]{returns} })) {
            my %values;
            @values{@{$definition->{params}}} = @{arguments($file, $t, $from + 1, $env, $depth)};
            my $dt = $files{$definition->{file}};
            push @messages, @{expand($definition->{file}, $dt, @{$definition->{returns}}, \%values, $depth + 1)};
        }
        return \@messages if @messages;
    }
    return hole();
}

# Each place in [from, to) of a file that hands on a message: [index, messages].
sub sites {
    my ($file, $t, $from, $to, $env) = @_;
    my @found;
    for (my $i = $from; $i < $to; $i++) {
        my ($kind, $value) = @{$t->[$i]};
        next unless $kind eq 'id';
        if ($streams{$value} && $t->[$i + 1][1] eq '<<') {
            my ($semicolon) = grep { $t->[$_][1] eq ';' } ($i + 2 .. $to - 1);
            my @operands = map {
                my ($a, $b) = @$_;
                ($b == $a + 1 && $t->[$a][1] eq 'std::endl') ? [[['L', "\n"]]] : expand($file, $t, $a, $b, $env, 0)
            } split_top($t, $i + 2, $semicolon, '<<');
            push @found, [$i, concat(@operands)];
        } elsif (is_call($t, $i)) {
            my $messages = call_messages($file, $t, $i, $env, 0);
            push @found, [$i, $messages] if $messages;
        }
    }
    return @found;
}

# Which functions pass a parameter on as a message: found again until no function is added.
for my $round (1 .. 8) {
    my $changed = 0;
    for my $definition (@definitions) {
        my %env = map { $_ => [[['P', $_]]] } @{$definition->{params}};
        my $t = $files{$definition->{file}};
        my @passed = grep { grep { $_->[0] eq 'P' } @$_ }
            map { @{$_->[1]} } sites($definition->{file}, $t, @{$definition->{body}}, \%env);
        my $count = @passed;
        next if $count == @{$templates{$definition} // []};
        $templates{$definition} = \@passed;
        $changed = 1;
    }
    last unless $changed;
}

open my $entries_in, '<', $entries_file or die "$entries_file: $!\n";
my @entries = map { chomp; squeeze($_) } <$entries_in>;
close $entries_in;

sub squeeze {
    my ($s) = @_;
    $s =~ s/\s+/ /g;
    $s =~ s/^ | $//g;
    return $s;
}

my %seen;
for my $file (@sources) {
    my $t = $files{$file};
    for my $site (sites($file, $t, 0, scalar @$t, {})) {
        my ($i, $messages) = @$site;
        for my $message (@$messages) {
            # One line at a time: the parts between line feeds.
            my @lines = ([]);
            for my $part (@$message) {
                if ($part->[0] eq 'L') {
                    my @pieces = split /\n/, $part->[1], -1;
                    push @{$lines[-1]}, ['L', shift @pieces] if @pieces;
                    push @lines, [['L', $_]] for @pieces;
                } else {
                    push @{$lines[-1]}, ['H'];
                }
            }
            for my $line (@lines) {
                my @parts = grep { $_->[0] ne 'L' || $_->[1] ne '' } @$line;
                @parts = (['L', $parts[0][1] =~ s/^Error: //r], @parts[1 .. $#parts]) if @parts && $parts[0][0] eq 'L';
                next unless grep { $_->[0] eq 'L' && $_->[1] =~ /\w/ } @parts;
                my $pattern = join '', map { $_->[0] eq 'L' ? quotemeta(squeeze_inner($_->[1])) : '.+' } @parts;
                my $shown = squeeze(join '', map { $_->[0] eq 'L' ? $_->[1] : '...' } @parts);
                $pattern =~ s/^(\\ )+|(\\ )+$//g;
                next if $seen{$shown}++;
                my $found = grep { /^$pattern$/ } @entries;
                (my $where = "$file:$t->[$i][2]") =~ s{^\./}{};
                print(($found ? 'yes' : 'no'), "\t$where\t$shown\n");
            }
        }
    }
}

sub squeeze_inner {
    my ($s) = @_;
    $s =~ s/\s+/ /g;
    return $s;
}
