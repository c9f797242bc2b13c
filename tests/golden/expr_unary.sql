SELECT -5, - - a, NOT a, NOT NOT b, -a * b, NOT a = b, NOT (a = b), NOT NULL, -2.5
